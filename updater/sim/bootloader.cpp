#include "updater/sim/bootloader.h"

#include <algorithm>
#include <cstdio>

namespace qzsim {

namespace {

constexpr std::string_view kWakeCommand = "7*450263\r";
constexpr unsigned kBootloaderSpeed = 57600;
// Wake-up commands of one updater run come a few hundred milliseconds apart; one that comes
// after a longer pause while still waiting for "{" starts a new upload.
constexpr auto kNewRunGap = std::chrono::seconds(2);

bool updaterSpeed(unsigned speed) { return speed == 9600 || speed == 57600 || speed == 19200; }

std::chrono::milliseconds ms(long value) { return std::chrono::milliseconds(value); }

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string number3(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace

Bootloader::Bootloader(const Options& options, Hooks hooks) : options_(options), hooks_(std::move(hooks)) {
    receiverConfig_.checksum = options.checksum;
    receiverConfig_.requestInterval = ms(options.requestIntervalMs);
    receiverConfig_.quietTimeout = seconds(options.transferTimeoutS);
    receiverConfig_.bitErrorRate = options.bitErrorRate;
    receiverConfig_.dropAckRate = options.dropAckRate;
    receiverConfig_.dupAckRate = options.dupAckRate;
    receiverConfig_.seed = options.seed;
    receiverConfig_.cancelAfter = options.cancelAfter;
    receiverConfig_.stopAfter = options.stopAfter;
    receiverConfig_.flashDelay = ms(options.flashDelayMs);
}

bool Bootloader::talkSpeed(unsigned speed) const {
    if (options_.wrongSpeed) return speed != kBootloaderSpeed && speed != 0;
    return speed == kBootloaderSpeed;
}

void Bootloader::begin(Clock::time_point now) { startUpload(now); }

void Bootloader::startUpload(Clock::time_point now) {
    upload_ = Upload{};
    upload_.number = nextNumber_++;
    history_.clear();
    hooks_.event("upload " + std::to_string(upload_.number));
    if (options_.awake) {
        phase_ = Phase::Listening;
        nextPercent_ = now;
    } else {
        phase_ = Phase::Asleep;
    }
}

void Bootloader::wake(unsigned speed, Clock::time_point now) {
    if (phase_ == Phase::Listening && upload_.woken && now - upload_.lastWake > kNewRunGap) {
        finish("no-answer", "new wake-up", now);
        if (phase_ == Phase::Done) return;
    }
    hooks_.event("wake " + std::to_string(speed));
    upload_.wakeSpeeds.push_back(speed);
    upload_.woken = true;
    upload_.lastWake = now;
    if (phase_ == Phase::Asleep) {
        phase_ = Phase::Listening;
        nextPercent_ = now;
    }
}

void Bootloader::onByte(std::uint8_t byte, unsigned speed, Clock::time_point now) {
    if (phase_ == Phase::Done) return;
    upload_.sawAnything = true;
    if (phase_ == Phase::Transfer) {
        upload_.receiver->onByte(byte, now);
        checkReceiver(now);
        return;
    }
    if (speed != historySpeed_) {
        history_.clear();
        historySpeed_ = speed;
    }
    history_.push_back(static_cast<char>(byte));
    if (history_.size() > kWakeCommand.size()) history_.erase(0, history_.size() - kWakeCommand.size());
    if (history_ == kWakeCommand) {
        history_.clear();
        if (updaterSpeed(speed))
            wake(speed, now);
        else
            hooks_.event("wake-up ignored at " + std::to_string(speed));
        return;
    }
    if (phase_ == Phase::Listening && byte == '{') {
        if (talkSpeed(speed))
            startTransfer(speed, now);
        else
            hooks_.event("'{' ignored at " + std::to_string(speed));
    }
}

void Bootloader::startTransfer(unsigned speed, Clock::time_point now) {
    phase_ = Phase::Transfer;
    upload_.listenSpeed = speed;
    if (upload_.lastPercent) upload_.startToAnswerMs = millisecondsBetween(*upload_.lastPercent, now);
    upload_.transferStart = now;
    hooks_.event("answer at " + std::to_string(speed));
    upload_.receiver = std::make_unique<XmodemReceiver>(receiverConfig_, hooks_.send, hooks_.event);
    upload_.receiver->start(now);
}

void Bootloader::onSpeed(unsigned speed, Clock::time_point now) {
    if (phase_ == Phase::Transfer && upload_.listenSpeed && speed != *upload_.listenSpeed) {
        // A real line at another speed would carry only noise: the transfer is over.
        finish("abandoned", "speed changed to " + std::to_string(speed), now);
        return;
    }
    if (phase_ == Phase::Listening && talkSpeed(speed)) nextPercent_ = std::min(nextPercent_, now);
}

Clock::time_point Bootloader::firstPercentAllowed() const {
    if (!upload_.woken || options_.percentAfterMs == 0) return Clock::time_point::min();
    return upload_.lastWake + ms(options_.percentAfterMs);
}

void Bootloader::tick(unsigned speed, Clock::time_point now) {
    switch (phase_) {
    case Phase::Listening:
        if (upload_.woken && now - upload_.lastWake >= seconds(options_.answerTimeoutS)) {
            finish("no-answer", "no answer", now);
            return;
        }
        if (!options_.silent && talkSpeed(speed) && now >= nextPercent_ && now >= firstPercentAllowed()) {
            const std::uint8_t percent[] = {'%'};
            hooks_.send(percent);
            nextPercent_ = now + ms(options_.percentIntervalMs);
        }
        return;
    case Phase::Transfer:
        upload_.receiver->tick(now);
        checkReceiver(now);
        return;
    case Phase::Asleep:
    case Phase::Done: return;
    }
}

void Bootloader::transmitted(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (phase_ != Phase::Listening) return;
    for (std::uint8_t byte : bytes) {
        if (byte == '%') {
            ++upload_.percentSent;
            upload_.lastPercent = now;
        }
    }
}

Clock::time_point Bootloader::nextDeadline() const {
    switch (phase_) {
    case Phase::Listening: {
        // Woken often enough to notice a change of line speed and send "%" on time.
        Clock::time_point next = std::max(nextPercent_, firstPercentAllowed());
        if (upload_.woken) next = std::min(next, upload_.lastWake + seconds(options_.answerTimeoutS));
        return next;
    }
    case Phase::Transfer: return upload_.receiver->nextDeadline();
    case Phase::Asleep:
    case Phase::Done: break;
    }
    return Clock::time_point::max();
}

bool Bootloader::ready() const { return phase_ != Phase::Transfer || upload_.receiver->ready(); }

void Bootloader::checkReceiver(Clock::time_point now) {
    const XmodemReceiver& r = *upload_.receiver;
    switch (r.result()) {
    case XmodemReceiver::Result::Running: return;
    case XmodemReceiver::Result::Complete: finish("complete", "", now); return;
    case XmodemReceiver::Result::Cancelled: finish("cancelled", r.reason(), now); return;
    case XmodemReceiver::Result::Stopped: finish("stopped", r.reason(), now); return;
    case XmodemReceiver::Result::Timeout: finish("timeout", r.reason(), now); return;
    }
}

void Bootloader::stop(Clock::time_point now, const std::string& outcome, bool always) {
    if (phase_ == Phase::Done) return;
    if (!always && !upload_.sawAnything && phase_ != Phase::Transfer) return;
    if (!outcome.empty()) {
        finish(outcome, "", now);
        return;
    }
    switch (phase_) {
    case Phase::Asleep: finish("no-wake", "", now); break;
    case Phase::Listening: finish("no-answer", "", now); break;
    default: finish("timeout", "", now); break;
    }
}

std::string Bootloader::summary(const std::string& outcome, const std::string& reason, Clock::time_point now) const {
    const XmodemReceiver* r = upload_.receiver.get();
    std::string s;
    const auto field = [&s](const char* name, const std::string& value) {
        s += s.empty() ? "{\"" : ",\"";
        s += name;
        s += "\":";
        s += value;
    };
    const auto text = [](const std::string& value) {
        std::string quoted = "\"";
        quoted += value;
        quoted += '"';
        return quoted;
    };
    std::string speeds = "[";
    for (unsigned speed : upload_.wakeSpeeds) {
        if (speeds.size() > 1) speeds += ',';
        speeds += std::to_string(speed);
    }
    speeds += ']';
    const bool crc = r ? r->crcMode() : !options_.checksum;
    field("upload", std::to_string(upload_.number));
    field("outcome", text(outcome));
    field("reason", text(reason));
    field("wake_speeds", speeds);
    field("listen_speed", upload_.listenSpeed ? std::to_string(*upload_.listenSpeed) : "null");
    field("percent_sent", std::to_string(upload_.percentSent));
    field("start_to_answer_ms", upload_.startToAnswerMs ? number3(*upload_.startToAnswerMs) : "null");
    field("mode", text(crc ? "crc" : "checksum"));
    field("blocks", std::to_string(r ? r->blocks() : 0));
    field("blocks_1k", std::to_string(r ? r->blocks1k() : 0));
    field("bytes", std::to_string(r ? r->image().size() : 0));
    field("duplicates", std::to_string(r ? r->duplicates() : 0));
    field("errors", std::to_string(r ? r->errors() : 0));
    field("bit_flips", std::to_string(r ? r->bitFlips() : 0));
    field("transfer_ms", r ? number3(millisecondsBetween(upload_.transferStart, now)) : "null");
    s += '}';
    return s;
}

void Bootloader::finish(const std::string& outcome, const std::string& reason, Clock::time_point now) {
    hooks_.event("end " + std::to_string(upload_.number) + " " + outcome + (reason.empty() ? "" : " (" + reason + ")"));
    const std::string line = summary(outcome, reason, now);
    const std::vector<std::uint8_t>* image = upload_.receiver ? &upload_.receiver->image() : nullptr;
    if (hooks_.finished(upload_.number, line, image))
        startUpload(now);
    else
        phase_ = Phase::Done;
}

} // namespace qzsim
