#include "updater/core/updater_window.h"

#include "updater/core/settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace qz {

std::string loadFailureMessage(std::string_view path) {
    return "An error occured while loading file " + std::string(path) + "." +
           " The default settings will be loaded instead.";
}

std::string saveFailureMessage(std::string_view path) {
    return "An error occured while saving file " + std::string(path);
}

bool pathLooksBinary(std::string_view path) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i + 3 <= path.size(); ++i) {
        if (lower(path[i]) == 'b' && lower(path[i + 1]) == 'i' && lower(path[i + 2]) == 'n') return true;
    }
    return false;
}

TwipsRect placeInWorkArea(const TwipsRect& saved, const TwipsRect& workArea, float designWidth, float designHeight) {
    TwipsRect placed = saved;
    const bool usable = std::isfinite(saved.width) && std::isfinite(saved.height) && saved.width >= designWidth / 4 &&
                        saved.height >= designHeight / 4;
    if (!usable) {
        placed.width = designWidth;
        placed.height = designHeight;
    }
    placed.width = std::min(placed.width, workArea.width);
    placed.height = std::min(placed.height, workArea.height);
    const auto inside = [](float position, float size, float areaStart, float areaSize) {
        if (!std::isfinite(position)) return areaStart;
        return std::clamp(position, areaStart, areaStart + areaSize - size);
    };
    placed.left = inside(saved.left, placed.width, workArea.left, workArea.width);
    placed.top = inside(saved.top, placed.height, workArea.top, workArea.height);
    return placed;
}

namespace {

struct MetricKey {
    WindowMetric metric;
    std::string_view key;
};

// Order of the keys when read at start-up and written at shut-down.
constexpr std::array<MetricKey, 4> kMetricKeys{{
    {WindowMetric::Width, kKeyWindowWidth},
    {WindowMetric::Height, kKeyWindowHeight},
    {WindowMetric::Top, kKeyWindowTop},
    {WindowMetric::Left, kKeyWindowLeft},
}};

} // namespace

UpdaterWindow::UpdaterWindow(UpdaterView& view, FileDialog& dialog, TransferControl& control, Profile& profile)
    : view_(view), dialog_(dialog), control_(control), profile_(profile) {
    dialog_.setDefaultExtension(kDialogDefaultExtension);
}

SettingsFile UpdaterWindow::settingsFile() const {
    const ProgramFacts facts = view_.programFacts();
    const std::filesystem::path folder =
        facts.folderPath.empty() ? std::filesystem::path(facts.folder) : facts.folderPath;
    return {folder / kSettingsFileName, facts.folder + facts.pathSeparator + std::string(kSettingsFileName)};
}

void UpdaterWindow::Load() {
    const ProgramFacts facts = view_.programFacts();
    const SettingsFile file = settingsFile();
    const std::filesystem::path& path = file.path;

    // Geometry and state: a key that is missing or holds no number leaves that property as it is.
    std::array<std::optional<float>, kMetricKeys.size()> saved;
    for (std::size_t i = 0; i < kMetricKeys.size(); ++i) {
        saved[i] = parseSingle(Module2::ReadSetting(profile_, kSettingsSection, kMetricKeys[i].key, path));
    }
    placeOnScreen(saved);
    for (std::size_t i = 0; i < kMetricKeys.size(); ++i) {
        if (saved[i]) view_.setMetric(kMetricKeys[i].metric, *saved[i]);
    }
    if (const auto state = toInteger16(Module2::ReadSetting(profile_, kSettingsSection, kKeyWindowState, path))) {
        if (*state >= kWindowNormal && *state <= kWindowMaximised) view_.setWindowState(*state);
    }

    view_.setText(ControlId::Status, statusText(UploadPhase::Idle));
    LoadPortAndFile(file);
    view_.setTitle(std::string(kTitlePrefix) + std::to_string(facts.versionMajor) + "." +
                   std::to_string(facts.versionMinor) + "." + std::to_string(facts.versionRevision));
    for (int item = 1; item <= 8; ++item) view_.addComboItem(ControlId::ComPortSet, std::to_string(item));
    view_.setText(ControlId::ComPortSet, std::to_string(ComPort));
    view_.setTimer1Enabled(false);
    control_.setNullDiscard(false);
    view_.setVisible(ControlId::BravlinkCRC2, true);
}

// The saved geometry was taken as the window reported it, minimised (far off, tiny) or on a
// monitor since unplugged: it is moved into the work area of the nearest monitor. Sides the
// placement moves are set even when their key was missing.
void UpdaterWindow::placeOnScreen(std::array<std::optional<float>, 4>& saved) const {
    if (std::none_of(saved.begin(), saved.end(), [](const auto& v) { return v.has_value(); })) return;
    std::array<float, kMetricKeys.size()> current{};
    for (std::size_t i = 0; i < kMetricKeys.size(); ++i) {
        const auto value = view_.metric(kMetricKeys[i].metric);
        if (!value) return;
        current[i] = *value;
    }
    // Before anything is set, the window has its design size.
    const float designWidth = current[0], designHeight = current[1];
    const auto side = [&](std::size_t i) { return saved[i].value_or(current[i]); };
    const TwipsRect wanted{side(3), side(2), side(0), side(1)};
    const auto area = view_.workArea(wanted);
    if (!area) return;
    const TwipsRect placed = placeInWorkArea(wanted, *area, designWidth, designHeight);
    const std::array<float, kMetricKeys.size()> sides{placed.width, placed.height, placed.top, placed.left};
    for (std::size_t i = 0; i < kMetricKeys.size(); ++i) {
        if (saved[i] || sides[i] != current[i]) saved[i] = sides[i];
    }
}

void UpdaterWindow::Unload() {
    if (const auto open = control_.portOpen(); open && *open) control_.setPortOpen(false);

    const SettingsFile file = settingsFile();
    SavePortAndFile(file);
    for (const auto& [metric, key] : kMetricKeys) {
        if (const auto value = view_.metric(metric)) {
            Module2::WriteSetting(profile_, kSettingsSection, key, formatSingle(*value), file.path);
        }
    }
    if (const auto state = view_.windowState()) {
        Module2::WriteSetting(profile_, kSettingsSection, kKeyWindowState, std::to_string(*state), file.path);
    }
    view_.endProcess();
    std::abort(); // not reached: ending the process never returns
}

void UpdaterWindow::LoadPortAndFile(const SettingsFile& file) {
    const ProgramFacts facts = view_.programFacts();
    const std::string& path = file.shown;
    std::ifstream in(file.path, std::ios::binary);
    if (!in) {
        view_.messageBox(loadFailureMessage(path), facts.applicationTitle, MessageIcon::Exclamation,
                         MessageButtons::Ok);
        return;
    }
    RecordReader reader(in);
    const auto port = reader.next();
    if (!port) {
        view_.messageBox(loadFailureMessage(path), facts.applicationTitle, MessageIcon::Exclamation,
                         MessageButtons::Ok);
        return;
    }
    // A first record that is not a 16-bit number is a load failure; the path record after it
    // is still taken when it is quoted as the program writes it, so that a hand-edited port
    // does not lose the firmware path at the next shut-down (while the fields of a file that
    // is not a settings file at all are not taken for a path). What was assigned stays.
    const auto number = parseRecordInteger16(*port);
    if (number) ComPort = *number;
    const auto fileField = reader.next();
    if (fileField && (number || reader.lastWasQuoted())) {
        view_.setText(ControlId::FileText, *fileField);
        FileToUpLoad = *fileField;
    }
    if (!number || !fileField) {
        view_.messageBox(loadFailureMessage(path), facts.applicationTitle, MessageIcon::Exclamation,
                         MessageButtons::Ok);
    }
}

void UpdaterWindow::SavePortAndFile(const SettingsFile& file) {
    const ProgramFacts facts = view_.programFacts();
    const auto fail = [&] {
        view_.messageBox(saveFailureMessage(file.shown), facts.applicationTitle, MessageIcon::Exclamation,
                         MessageButtons::Ok);
    };
    std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
    if (!out) return fail();
    out << ComPort << "\r\n";
    const auto text = view_.text(ControlId::FileText);
    if (!out || !text) return fail();
    out << '"' << *text << "\"\r\n";
    out.close();
    if (!out) fail();
}

UploadResult UpdaterWindow::UpLoadClick() {
    UploadOptions options;
    options.applicationTitle = view_.programFacts().applicationTitle;
    UploadSequence sequence(control_, *this, *this, std::move(options));
    return sequence.run();
}

void UpdaterWindow::BrowseClick() {
    const std::string title = view_.programFacts().applicationTitle;
    for (;;) {
        dialog_.setTitle(kDialogTitle);
        dialog_.setFilter(kDialogFilter);
        if (const auto current = view_.text(ControlId::FileText)) dialog_.setFileName(*current);
        dialog_.showOpen(); // a cancel reported as a failure changes nothing: the name is read anyway
        if (const auto name = dialog_.fileName()) {
            view_.setText(ControlId::FileText, *name);
            FileToUpLoad = *name;
        }
        if (FileToUpLoad.empty()) return;
        if (pathLooksBinary(FileToUpLoad)) return;
        if (view_.messageBox(kNotBinaryQuestion, title, MessageIcon::Question, MessageButtons::OkCancel) !=
            MessageResult::Ok) {
            return;
        }
    }
}

void UpdaterWindow::ComPortSetClick(int index) {
    if (index < 0 || index > 32766) return;
    ComPort = static_cast<std::int16_t>(index + 1);
}

void UpdaterWindow::showStatus(std::string_view text) { view_.setText(ControlId::Status, text); }

void UpdaterWindow::showMessage(std::string_view text, std::string_view title) {
    view_.messageBox(text, title, MessageIcon::None, MessageButtons::Ok);
}

void UpdaterWindow::pumpMessages() { view_.pumpMessages(); }

void UpdaterWindow::sleep(std::uint32_t milliseconds) { view_.sleep(milliseconds); }

void UpdaterWindow::setTimerEnabled(bool enabled) { view_.setTimer1Enabled(enabled); }

void UpdaterWindow::setInputEnabled(ControlId control, bool enabled) { view_.setEnabled(control, enabled); }

} // namespace qz
