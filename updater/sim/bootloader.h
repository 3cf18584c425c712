#pragma once
// The controller's behaviour on the line, one upload after another:
//   asleep    -> "7*450263" CR at 9600, 57600 or 19200 baud wakes it
//   listening -> "%" repeated while the line is at 57600 baud, until "{" arrives
//   transfer  -> XMODEM receive of the image
// and back to asleep (or listening with --awake) after each upload, with a summary.

#include "updater/sim/options.h"
#include "updater/sim/xmodem_receiver.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qzsim {

class Bootloader {
public:
    struct Hooks {
        std::function<void(std::span<const std::uint8_t>)> send;
        std::function<void(const std::string&)> event;
        // An upload ended: its number, summary line and received image (null when no transfer
        // began). Returns whether to serve another upload.
        std::function<bool(long upload, const std::string& summary, const std::vector<std::uint8_t>* image)> finished;
    };

    Bootloader(const Options& options, Hooks hooks);

    void begin(Clock::time_point now);
    void onByte(std::uint8_t byte, unsigned speed, Clock::time_point now);
    void onSpeed(unsigned speed, Clock::time_point now);
    void tick(unsigned speed, Clock::time_point now);
    // Bytes that actually went out on the line.
    void transmitted(std::span<const std::uint8_t> bytes, Clock::time_point now);
    Clock::time_point nextDeadline() const;
    // False while a flash write holds received bytes back.
    bool ready() const;
    bool done() const { return phase_ == Phase::Done; }
    // Before "{": the line speed of each received byte matters (wake-up commands).
    bool speedSensitive() const { return phase_ == Phase::Asleep || phase_ == Phase::Listening; }

    // The simulator stops: ends the current upload with the outcome that fits its phase
    // ("no-wake", "no-answer", "timeout") or with `outcome` when given. An upload that has
    // seen nothing yet ends silently unless `always` is set.
    void stop(Clock::time_point now, const std::string& outcome, bool always);

private:
    // The first "%" after a wake-up waits for --percent-after-ms.
    Clock::time_point firstPercentAllowed() const;
    enum class Phase { Asleep, Listening, Transfer, Done };

    struct Upload {
        long number = 0;
        bool sawAnything = false;
        bool woken = false; // by a wake-up command (not --awake)
        std::vector<unsigned> wakeSpeeds;
        Clock::time_point lastWake{};
        long percentSent = 0;
        std::optional<Clock::time_point> lastPercent;
        std::optional<unsigned> listenSpeed;
        std::optional<double> startToAnswerMs;
        Clock::time_point transferStart{};
        std::unique_ptr<XmodemReceiver> receiver;
    };

    bool talkSpeed(unsigned speed) const;
    void startUpload(Clock::time_point now);
    void wake(unsigned speed, Clock::time_point now);
    void startTransfer(unsigned speed, Clock::time_point now);
    void checkReceiver(Clock::time_point now);
    void finish(const std::string& outcome, const std::string& reason, Clock::time_point now);
    std::string summary(const std::string& outcome, const std::string& reason, Clock::time_point now) const;

    Options options_;
    ReceiverConfig receiverConfig_;
    Hooks hooks_;
    Phase phase_ = Phase::Asleep;
    Upload upload_;
    long nextNumber_ = 1;
    std::string history_; // recent bytes at one speed, for the wake-up command
    unsigned historySpeed_ = 0;
    Clock::time_point nextPercent_{};
};

} // namespace qzsim
