#include "updater/cli/console_host.h"

#include <algorithm>
#include <thread>

namespace qz::cli {

namespace {
constexpr std::chrono::milliseconds kTimerInterval{1000};
constexpr std::chrono::milliseconds kPollPause{1};
// The longest wait for input between two polls: how soon a Ctrl-C handled on another thread
// ends the wait.
constexpr std::chrono::milliseconds kInputWait{20};
constexpr std::chrono::milliseconds kSleepSlice{20};
} // namespace

ConsoleUploadHost::ConsoleUploadHost(UpdaterState& state, const std::atomic<bool>& interrupted, Clock clock,
                                     Sleeper sleeper)
    : state_(state), interrupted_(interrupted), clock_(std::move(clock)), sleeper_(std::move(sleeper)) {}

void ConsoleUploadHost::pause(std::chrono::milliseconds duration) const {
    if (sleeper_)
        sleeper_(duration);
    else
        std::this_thread::sleep_for(duration);
}

void ConsoleUploadHost::phaseEntered(UploadPhase phase) {
    if (onPhase) onPhase(phase);
}

void ConsoleUploadHost::showMessage(std::string_view text, std::string_view title) {
    if (onMessage) onMessage(text, title);
}

void ConsoleUploadHost::pumpMessages() {
    if (waitForInput) {
        auto limit = kInputWait;
        // Wake up for the timer's next tick, so that the time-out comes when it is due.
        if (timerEnabled_)
            limit = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(nextTick_ - now()), kPollPause, kInputWait);
        waitForInput(limit);
    } else {
        pause(kPollPause);
    }
    if (!timerEnabled_) return;
    const auto current = now();
    if (current < nextTick_) return;
    tickSerialTimer(state_);
    // Keep the rhythm: the next tick is due at the first whole interval after now.
    do nextTick_ += kTimerInterval;
    while (nextTick_ <= current);
}

void ConsoleUploadHost::sleep(std::uint32_t milliseconds) {
    const auto end = now() + std::chrono::milliseconds(milliseconds);
    while (!interrupted_.load()) {
        const auto current = now();
        if (current >= end) return;
        pause(std::min(kSleepSlice, std::chrono::ceil<std::chrono::milliseconds>(end - current)));
    }
}

void ConsoleUploadHost::setTimerEnabled(bool enabled) {
    if (enabled && !timerEnabled_) nextTick_ = now() + kTimerInterval;
    timerEnabled_ = enabled;
}

} // namespace qz::cli
