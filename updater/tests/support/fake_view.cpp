#include "updater/tests/support/fake_view.h"

#include "updater/core/settings.h"

#include <filesystem>

namespace qz::test {

std::string controlName(ControlId id) { return std::string(layoutOf(id).name); }

namespace {
std::string iconName(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None: return "None";
    case MessageIcon::Exclamation: return "Exclamation";
    case MessageIcon::Question: return "Question";
    }
    return "?";
}

std::string metricName(WindowMetric m) {
    switch (m) {
    case WindowMetric::Width: return "Width";
    case WindowMetric::Height: return "Height";
    case WindowMetric::Top: return "Top";
    case WindowMetric::Left: return "Left";
    }
    return "?";
}
} // namespace

FakeView::FakeView(CallLog& log) : log_(log), title_(kDesignTitle) {
    for (const auto& c : kWindowLayout) texts_[c.id] = std::string(c.caption);
    // Outer size of the design client area with a frame; placed by the system.
    metrics_ = {{WindowMetric::Width, 7980.0f},
                {WindowMetric::Height, 6810.0f},
                {WindowMetric::Top, 1200.0f},
                {WindowMetric::Left, 1800.0f}};
    facts.folder = std::filesystem::temp_directory_path().string();
    facts.pathSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
    facts.versionMajor = 7;
    facts.versionMinor = 0;
    facts.versionRevision = 3;
    facts.applicationTitle = "Updater7304";
}

void FakeView::schedule(std::uint64_t atMs, std::function<void()> action) {
    scheduled_.emplace(atMs, std::move(action));
}

bool FakeView::enabled(ControlId id) const {
    auto it = enabled_.find(id);
    return it == enabled_.end() || it->second;
}

bool FakeView::isVisible(ControlId id) const {
    auto it = visible_.find(id);
    return it == visible_.end() || it->second;
}

std::string FakeView::textOf(ControlId id) const {
    auto it = texts_.find(id);
    return it == texts_.end() ? std::string() : it->second;
}

bool FakeView::setText(ControlId id, std::string_view text) {
    if (fails("set " + controlName(id))) return false;
    log_.add("text " + controlName(id) + "=" + std::string(text));
    texts_[id] = std::string(text);
    return true;
}

std::optional<std::string> FakeView::text(ControlId id) const {
    if (fails("get " + controlName(id))) return std::nullopt;
    return textOf(id);
}

bool FakeView::setEnabled(ControlId id, bool enabled) {
    if (fails("enable " + controlName(id))) return false;
    log_.add((enabled ? "enable " : "disable ") + controlName(id));
    enabled_[id] = enabled;
    return true;
}

bool FakeView::setVisible(ControlId id, bool visible) {
    if (fails("show " + controlName(id))) return false;
    log_.add((visible ? "show " : "hide ") + controlName(id));
    visible_[id] = visible;
    return true;
}

bool FakeView::addComboItem(ControlId id, std::string_view item) {
    if (id != ControlId::ComPortSet || fails("item")) return false;
    log_.add("item " + std::string(item));
    combo_.emplace_back(item);
    return true;
}

std::optional<int> FakeView::comboCount(ControlId id) const {
    if (id != ControlId::ComPortSet) return std::nullopt;
    return static_cast<int>(combo_.size());
}

bool FakeView::setTitle(std::string_view title) {
    if (fails("title")) return false;
    log_.add("title " + std::string(title));
    title_ = std::string(title);
    return true;
}

std::optional<std::string> FakeView::title() const { return title_; }

bool FakeView::setMetric(WindowMetric metric, float twips) {
    if (fails("metric " + metricName(metric))) return false;
    log_.add("metric " + metricName(metric) + "=" + formatSingle(twips));
    metrics_[metric] = twips;
    return true;
}

std::optional<float> FakeView::metric(WindowMetric metric) const {
    // (append: GCC 12 for i686 gives a false -Wrestrict warning on "literal" + temporary here)
    if (fails(std::string("get metric ").append(metricName(metric)))) return std::nullopt;
    return metrics_.at(metric);
}

bool FakeView::setWindowState(std::int16_t state) {
    if (fails("state") || state < kWindowNormal || state > kWindowMaximised) return false;
    log_.add("state " + std::to_string(state));
    state_ = state;
    return true;
}

std::optional<std::int16_t> FakeView::windowState() const {
    if (fails("get state")) return std::nullopt;
    return state_;
}

MessageResult FakeView::messageBox(std::string_view text, std::string_view title, MessageIcon icon,
                                   MessageButtons buttons) {
    log_.add("message " + std::string(title) + "|" + std::string(text) + "|" + iconName(icon) + "|" +
             (buttons == MessageButtons::Ok ? "Ok" : "OkCancel"));
    if (buttons == MessageButtons::Ok || answers.empty()) return MessageResult::Ok;
    const MessageResult answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeView::pumpMessages() {
    ++pumps_;
    nowMs_ += pumpCostMs;
    if (timerEnabled_ && nowMs_ >= nextTickMs_) {
        while (nextTickMs_ <= nowMs_) nextTickMs_ += kTimer1IntervalMs;
        ++ticks_;
        if (onTimer1) onTimer1();
    }
    while (!scheduled_.empty() && scheduled_.begin()->first <= nowMs_) {
        auto action = std::move(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
        action();
    }
}

void FakeView::sleep(std::uint32_t milliseconds) {
    log_.add("sleep " + std::to_string(milliseconds));
    nowMs_ += milliseconds;
}

void FakeView::setTimer1Enabled(bool enabled) {
    log_.add(enabled ? "timer on" : "timer off");
    if (enabled && !timerEnabled_) nextTickMs_ = nowMs_ + kTimer1IntervalMs;
    timerEnabled_ = enabled;
}

void FakeView::endProcess() {
    log_.add("end");
    throw ProcessEnded{};
}

bool FakeDialog::setTitle(std::string_view title) {
    if (fails("title")) return false;
    log_.add("dialog title=" + std::string(title));
    return true;
}

bool FakeDialog::setFilter(std::string_view filter) {
    if (fails("filter")) return false;
    log_.add("dialog filter=" + std::string(filter));
    return true;
}

bool FakeDialog::setDefaultExtension(std::string_view extension) {
    if (fails("ext")) return false;
    log_.add("dialog ext=" + std::string(extension));
    ext_ = std::string(extension);
    return true;
}

bool FakeDialog::setFileName(std::string_view name) {
    if (fails("name")) return false;
    log_.add("dialog name=" + std::string(name));
    name_ = std::string(name);
    return true;
}

bool FakeDialog::showOpen() {
    if (fails("show")) return false;
    log_.add("dialog show");
    std::optional<std::string> pick;
    if (!picks.empty()) {
        pick = std::move(picks.front());
        picks.pop_front();
    }
    if (pick) {
        name_ = *pick;
        return true;
    }
    if (cancelClearsName) name_.clear();
    return false; // a cancel reported as an error
}

std::optional<std::string> FakeDialog::fileName() const {
    if (fails("get name")) return std::nullopt;
    return name_;
}

} // namespace qz::test
