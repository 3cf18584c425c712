#pragma once
// Fakes of the updater window's view and file dialog for native tests. Every change is logged
// into a shared CallLog ("text Status=Status: Idle", "disable FileText", "enable UpLoad",
// "message Updater7304|<text>|None|Ok", "sleep 100", "timer on", "item 1", "end", ...).
// A fake clock: sleep() advances it; each pumpMessages() advances it by pumpCostMs, delivers a
// Timer1 tick when one fell due while the timer is enabled (ticks keep a 1000 ms rhythm from
// the enabling; ticks due during a sleep coalesce into one at the next pump, as WM_TIMER
// does), and runs actions scheduled for that time (clicks such as Exit).

#include "updater/core/updater_view.h"
#include "updater/tests/support/call_log.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qz::test {

// Thrown by FakeView::endProcess. Not derived from std::exception on purpose.
struct ProcessEnded {};

std::string controlName(ControlId id);

class FakeView final : public UpdaterView {
public:
    explicit FakeView(CallLog& log);

    // Operations named here fail: "set <Control>", "get <Control>", "enable <Control>",
    // "item", "title", "metric <Width|Height|Top|Left>", "get metric <...>", "state",
    // "get state", "show <Control>".
    std::set<std::string> failing;
    // Answers of message boxes with OK/Cancel, in order; Ok when none is queued.
    std::deque<MessageResult> answers;
    // Called for each Timer1 tick (the window's Timer1Timer).
    std::function<void()> onTimer1;
    std::uint64_t pumpCostMs = 1;
    ProgramFacts facts;
    // What workArea() answers (empty: the platform cannot tell), and the last rectangle asked.
    std::optional<TwipsRect> monitorWorkArea;
    mutable std::optional<TwipsRect> workAreaAskedFor;

    // Runs `action` inside the first pump at or after fake time `atMs`.
    void schedule(std::uint64_t atMs, std::function<void()> action);
    // The user types into a text field: changes the text without any event.
    void type(ControlId id, std::string text) { texts_[id] = std::move(text); }

    std::uint64_t now() const { return nowMs_; }
    std::uint64_t pumps() const { return pumps_; }
    std::uint64_t ticks() const { return ticks_; }
    bool timerEnabled() const { return timerEnabled_; }
    bool enabled(ControlId id) const;
    bool isVisible(ControlId id) const;
    std::string textOf(ControlId id) const;
    const std::vector<std::string>& comboItems() const { return combo_; }
    std::string currentTitle() const { return title_; }
    float metricOf(WindowMetric m) const { return metrics_.at(m); }
    std::int16_t state() const { return state_; }
    void setMetricDirect(WindowMetric m, float v) { metrics_[m] = v; }
    void setStateDirect(std::int16_t s) { state_ = s; }

    bool setText(ControlId id, std::string_view text) override;
    std::optional<std::string> text(ControlId id) const override;
    bool setEnabled(ControlId id, bool enabled) override;
    bool setVisible(ControlId id, bool visible) override;
    bool addComboItem(ControlId id, std::string_view item) override;
    std::optional<int> comboCount(ControlId id) const override;
    bool setTitle(std::string_view title) override;
    std::optional<std::string> title() const override;
    bool setMetric(WindowMetric metric, float twips) override;
    std::optional<float> metric(WindowMetric metric) const override;
    bool setWindowState(std::int16_t state) override;
    std::optional<std::int16_t> windowState() const override;
    std::optional<TwipsRect> workArea(const TwipsRect& around) const override {
        workAreaAskedFor = around;
        return monitorWorkArea;
    }
    MessageResult messageBox(std::string_view text, std::string_view title, MessageIcon icon,
                             MessageButtons buttons) override;
    void pumpMessages() override;
    void sleep(std::uint32_t milliseconds) override;
    void setTimer1Enabled(bool enabled) override;
    [[noreturn]] void endProcess() override;
    ProgramFacts programFacts() const override { return facts; }

private:
    bool fails(const std::string& op) const { return failing.count(op) != 0; }

    CallLog& log_;
    std::map<ControlId, std::string> texts_;
    std::map<ControlId, bool> enabled_;
    std::map<ControlId, bool> visible_;
    std::vector<std::string> combo_;
    std::string title_;
    std::map<WindowMetric, float> metrics_;
    std::int16_t state_ = kWindowNormal;
    bool timerEnabled_ = true; // enabled at design time
    std::uint64_t nowMs_ = 0;
    std::uint64_t nextTickMs_ = kTimer1IntervalMs;
    std::uint64_t pumps_ = 0;
    std::uint64_t ticks_ = 0;
    std::multimap<std::uint64_t, std::function<void()>> scheduled_;
};

class FakeDialog final : public FileDialog {
public:
    explicit FakeDialog(CallLog& log) : log_(log) {}

    // What the user does at each showOpen(), in order: a name picks (or types) it, nullopt
    // cancels. With nothing queued the dialog is cancelled.
    std::deque<std::optional<std::string>> picks;
    // A cancel leaves the preset name (false) or no name (true) in the dialog.
    bool cancelClearsName = false;
    // Operations named here fail: "title", "filter", "ext", "name", "show", "get name".
    std::set<std::string> failing;

    std::string defaultExtension() const { return ext_; }

    bool setTitle(std::string_view title) override;
    bool setFilter(std::string_view filter) override;
    bool setDefaultExtension(std::string_view extension) override;
    bool setFileName(std::string_view name) override;
    bool showOpen() override;
    std::optional<std::string> fileName() const override;

private:
    bool fails(const std::string& op) const { return failing.count(op) != 0; }

    CallLog& log_;
    std::string ext_;
    std::string name_;
};

} // namespace qz::test
