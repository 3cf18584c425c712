#include "updater/sim/xmodem_receiver.h"

#include <algorithm>

namespace qzsim {

namespace {

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t CAN = 0x18;
constexpr std::uint8_t CRC_REQUEST = 'C';

} // namespace

std::uint16_t crc16Xmodem(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

XmodemReceiver::XmodemReceiver(const ReceiverConfig& config, Send send, Log log)
    : config_(config), send_(std::move(send)), log_(std::move(log)), crc_(!config.checksum), flipRng_(config.seed),
      dropRng_(config.seed ^ 0x9e3779b97f4a7c15ULL), dupRng_(config.seed ^ 0xc2b2ae3d27d4eb4fULL) {}

bool XmodemReceiver::chance(std::mt19937_64& rng, double rate) {
    if (rate <= 0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rate;
}

void XmodemReceiver::start(Clock::time_point now) {
    lastByte_ = now;
    requests_ = 1;
    respond(crc_ ? CRC_REQUEST : NAK, now);
}

void XmodemReceiver::respond(std::uint8_t code, Clock::time_point now) {
    const std::uint8_t bytes[] = {code};
    send_(bytes);
    lastRequest_ = now;
    clean_ = true;
    garbage_ = false;
    lastWasCan_ = false;
    flippedThisExchange_ = false;
}

bool XmodemReceiver::ack(Clock::time_point now) {
    if (chance(dropRng_, config_.dropAckRate)) {
        log_("ACK dropped");
        // The exchange is over as far as this side knows: the sender will repeat.
        lastRequest_ = now;
        clean_ = true;
        garbage_ = false;
        lastWasCan_ = false;
        flippedThisExchange_ = false;
        return false;
    }
    respond(ACK, now);
    if (chance(dupRng_, config_.dupAckRate)) {
        log_("ACK duplicated");
        respond(ACK, now);
    }
    return true;
}

void XmodemReceiver::nak(Clock::time_point now, const std::string& why) {
    ++errors_;
    ++errorsInRow_;
    log_("error: " + why);
    if (errorsInRow_ >= config_.maxErrors) {
        cancel("too-many-errors", now);
        return;
    }
    // Until a block has been taken the sender may still wait for the first request: repeat
    // it rather than a NAK that would ask for checksum mode.
    respond(blocks_ == 0 && crc_ ? CRC_REQUEST : NAK, now);
}

void XmodemReceiver::cancel(const std::string& why, Clock::time_point now) {
    const std::uint8_t bytes[] = {CAN, CAN};
    send_(bytes);
    lastRequest_ = now;
    finish(Result::Cancelled, why);
}

void XmodemReceiver::finish(Result result, const std::string& why) {
    result_ = result;
    reason_ = why;
    ackPending_ = false;
}

void XmodemReceiver::onByte(std::uint8_t byte, Clock::time_point now) {
    if (result_ != Result::Running) return;
    lastByte_ = now;
    if (!flippedThisExchange_ && chance(flipRng_, config_.bitErrorRate)) {
        // One flipped bit per exchange at most: every corrupted block stays detectable, by
        // CRC-16 and by the arithmetic checksum alike.
        byte = static_cast<std::uint8_t>(byte ^ (1u << (flipRng_() % 8)));
        flippedThisExchange_ = true;
        ++bitFlips_;
    }
    if (state_ == State::InFrame) {
        frame_.push_back(byte);
        if (frame_.size() == frameSize_) {
            state_ = State::AwaitFrame;
            frameComplete(now);
        }
        return;
    }
    if (byte == SOH || byte == STX) {
        const std::size_t payload = byte == SOH ? 128 : 1024;
        frameSize_ = 3 + payload + (crc_ ? 2 : 1);
        frame_.assign(1, byte);
        state_ = State::InFrame;
        garbage_ = false;
        lastWasCan_ = false;
        clean_ = false;
        started_ = true;
        return;
    }
    if (byte == EOT && clean_) {
        // Only an EOT that is the first byte after an answer ends the transfer: an EOT value
        // inside noise must not cut the image short.
        lastWasCan_ = false;
        if (!deaf_ && ack(now)) finish(Result::Complete, "");
        return;
    }
    if (byte == CAN) {
        if (lastWasCan_) {
            finish(deaf_ ? Result::Stopped : Result::Cancelled, "sender");
            return;
        }
        lastWasCan_ = true;
        clean_ = false;
        return;
    }
    lastWasCan_ = false;
    clean_ = false;
    garbage_ = true;
}

void XmodemReceiver::frameComplete(Clock::time_point now) {
    if (deaf_) return;
    if (config_.cancelAfter >= 0 && blocks_ >= config_.cancelAfter) {
        log_("cancelling after " + std::to_string(blocks_) + " blocks");
        cancel("cancel-after", now);
        return;
    }
    const std::size_t payload = frame_[0] == SOH ? 128 : 1024;
    const std::uint8_t number = frame_[1];
    if ((number ^ frame_[2]) != 0xff) {
        nak(now, "block number and complement disagree");
        return;
    }
    const std::span<const std::uint8_t> data(frame_.data() + 3, payload);
    bool good = false;
    if (crc_) {
        const unsigned sent = (unsigned{frame_[3 + payload]} << 8) | frame_[4 + payload];
        good = crc16Xmodem(data) == sent;
    } else {
        unsigned sum = 0;
        for (std::uint8_t b : data) sum += b;
        good = (sum & 0xff) == frame_[3 + payload];
    }
    if (!good) {
        nak(now, crc_ ? "bad CRC" : "bad checksum");
        return;
    }
    const auto expected = static_cast<std::uint8_t>(blocks_ + 1);
    if (number == expected) {
        if (config_.stopAfter >= 0 && blocks_ >= config_.stopAfter) {
            log_("going silent after " + std::to_string(blocks_) + " blocks");
            deaf_ = true;
            return;
        }
        image_.insert(image_.end(), data.begin(), data.end());
        ++blocks_;
        if (payload == 1024) ++blocks1k_;
        errorsInRow_ = 0;
        if (config_.flashDelay > Clock::duration::zero()) {
            ackPending_ = true;
            ackAt_ = now + config_.flashDelay;
        } else {
            ack(now);
        }
        return;
    }
    if (blocks_ > 0 && number == static_cast<std::uint8_t>(blocks_)) {
        ++duplicates_;
        errorsInRow_ = 0;
        ack(now);
        return;
    }
    log_("block " + std::to_string(number) + " out of sequence (expected " + std::to_string(expected) + ")");
    cancel("sequence", now);
}

void XmodemReceiver::tick(Clock::time_point now) {
    if (result_ != Result::Running) return;
    if (ackPending_) {
        if (now < ackAt_) return;
        ackPending_ = false;
        ack(now);
    }
    if (now - lastByte_ >= config_.quietTimeout) {
        if (deaf_)
            finish(Result::Stopped, "idle");
        else
            finish(Result::Timeout, "quiet line");
        return;
    }
    if (deaf_) return;
    if (state_ == State::InFrame) {
        if (now - lastByte_ >= config_.frameGap) {
            state_ = State::AwaitFrame;
            nak(now, "block cut short");
        }
        return;
    }
    if (garbage_) {
        if (now - lastByte_ >= config_.garbageQuiet) nak(now, "noise");
        return;
    }
    if (now - std::max(lastByte_, lastRequest_) < config_.requestInterval) return;
    if (!started_) {
        // Nobody answered the first request yet: repeat it, falling back to checksum mode.
        if (crc_ && ++requests_ > config_.crcRequests) {
            crc_ = false;
            log_("no answer to 'C': checksum mode");
        }
        respond(crc_ ? CRC_REQUEST : NAK, now);
        return;
    }
    nak(now, "quiet line");
}

Clock::time_point XmodemReceiver::nextDeadline() const {
    if (result_ != Result::Running) return Clock::time_point::max();
    Clock::time_point next = lastByte_ + config_.quietTimeout;
    if (ackPending_) return std::min(next, ackAt_);
    if (deaf_) return next;
    if (state_ == State::InFrame) return std::min(next, lastByte_ + config_.frameGap);
    if (garbage_) return std::min(next, lastByte_ + config_.garbageQuiet);
    return std::min(next, std::max(lastByte_, lastRequest_) + config_.requestInterval);
}

} // namespace qzsim
