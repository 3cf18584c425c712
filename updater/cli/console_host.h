#pragma once
// The upload sequence's host in a console: no window, no controls. Timer1 becomes a steady
// clock read at every pump (one tick of SerialTimer per 1000 ms while enabled), the phases and
// the message boxes go to the tool's output, and Ctrl-C ends the wait.

#include "updater/cli/console_io.h"
#include "updater/core/upload_sequence.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace qz::cli {

class ConsoleUploadHost final : public UploadHost {
public:
    using Clock = cli::Clock;
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    // Without a clock and a sleeper the steady clock and the thread's sleep are used.
    ConsoleUploadHost(UpdaterState& state, const std::atomic<bool>& interrupted, Clock clock = {},
                      Sleeper sleeper = {});

    // Where the sequence's phases and messages go (the status line is the window's).
    std::function<void(UploadPhase phase)> onPhase;
    std::function<void(std::string_view text, std::string_view title)> onMessage;
    // How the wait for "%" waits between two polls: up to the given time, returning as soon
    // as input is there. Empty: a pause of 1 ms.
    std::function<void(std::chrono::milliseconds limit)> waitForInput;
    // True once the line has gone (the device was unplugged): the wait ends as cancelled.
    std::function<bool()> lineLost;

    void showStatus(std::string_view) override {}
    void phaseEntered(UploadPhase phase) override;
    void showMessage(std::string_view text, std::string_view title) override;
    // Gives the processor a moment, or waits for input on the line (the wait polls without a
    // pause of its own), then ticks SerialTimer when the next second of the timer's rhythm has
    // come. Seconds that passed while nothing pumped (a pause) are not made up for: one tick
    // at most per pump, as a window timer's ticks are not queued up.
    void pumpMessages() override;
    // Blocks, but returns early once Ctrl-C was pressed.
    void sleep(std::uint32_t milliseconds) override;
    void setTimerEnabled(bool enabled) override;
    void setInputEnabled(ControlId, bool) override {}
    bool cancelRequested() override { return interrupted_.load() || (lineLost && lineLost()); }

    bool timerEnabled() const { return timerEnabled_; }

private:
    std::chrono::steady_clock::time_point now() const { return timeOf(clock_); }
    void pause(std::chrono::milliseconds duration) const;

    UpdaterState& state_;
    const std::atomic<bool>& interrupted_;
    Clock clock_;
    Sleeper sleeper_;
    bool timerEnabled_ = false;
    std::chrono::steady_clock::time_point nextTick_{};
};

} // namespace qz::cli
