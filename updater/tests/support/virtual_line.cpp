#include "updater/tests/support/virtual_line.h"

#include <algorithm>

namespace qz::test {
namespace {

bool isControlByte(std::uint8_t byte) { return byte == 0x06 || byte == 0x15 || byte == 0x18 || byte == 'C'; }

} // namespace

VirtualLine::VirtualLine(LinePeer& peer, std::uint32_t seed) : peer_(peer), random_(seed) {}

bool VirtualLine::chance(double probability) {
    if (probability <= 0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

std::uint8_t VirtualLine::flipOneBit(std::uint8_t byte) {
    return static_cast<std::uint8_t>(byte ^ (1u << std::uniform_int_distribution<int>(0, 7)(random_)));
}

void VirtualLine::deliver(std::span<const std::uint8_t> bytes, VirtualTime time) {
    for (const std::uint8_t byte : bytes) toSender_.emplace(time, byte);
}

void VirtualLine::answer(std::span<const std::uint8_t> bytes, VirtualTime time) {
    for (const std::uint8_t sent : bytes) {
        time += byteTime_;
        if (chance(faults_.answerNoiseRate)) {
            std::uint8_t noise = 0;
            do noise = static_cast<std::uint8_t>(random_());
            while (isControlByte(noise));
            toSender_.emplace(time, noise);
        }
        if (chance(faults_.answerDropRate)) continue;
        const std::uint8_t byte = chance(faults_.answerBitErrorRate) ? flipOneBit(sent) : sent;
        toSender_.emplace(time, byte);
        if (chance(faults_.answerDuplicateRate)) toSender_.emplace(time, byte);
    }
}

ReadResult VirtualLine::read(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (readsFail_) return {ReadStatus::error, 0};
    const VirtualTime target = now_ + milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        peer_.advanceTo(now_, *this);
        if (!toSender_.empty() && toSender_.begin()->first <= now_) {
            std::size_t count = 0;
            while (count < buffer.size() && !toSender_.empty() && toSender_.begin()->first <= now_) {
                buffer[count++] = toSender_.begin()->second;
                toSender_.erase(toSender_.begin());
            }
            return {ReadStatus::data, count};
        }
        if (now_ >= target) return {ReadStatus::timedOut, 0};
        VirtualTime next = target;
        if (!toSender_.empty()) next = std::min(next, toSender_.begin()->first);
        if (const auto event = peer_.nextEventTime()) next = std::min(next, *event);
        if (next <= now_) next = std::min(target, now_ + std::chrono::microseconds(1));
        now_ = next;
    }
}

bool VirtualLine::write(std::span<const std::uint8_t> bytes) {
    if (writesLeft_ == 0) return false;
    if (writesLeft_ > 0) --writesLeft_;
    writes_.emplace_back(bytes.begin(), bytes.end());
    peer_.advanceTo(now_, *this);
    std::vector<std::uint8_t> arriving;
    std::vector<VirtualTime> arrivals;
    int bitErrors = 0;
    for (const std::uint8_t sent : bytes) {
        now_ += byteTime_;
        if (chance(faults_.dropRate)) continue;
        std::uint8_t byte = sent;
        if (bitErrors < faults_.maxBitErrorsPerWrite && chance(faults_.bitErrorRate)) {
            byte = flipOneBit(byte);
            ++bitErrors;
        }
        arriving.push_back(byte);
        arrivals.push_back(now_);
    }
    peer_.advanceTo(now_, *this);
    peer_.receive(arriving, arrivals, *this);
    return true;
}

void VirtualLine::pass(VirtualDuration duration) {
    const VirtualTime target = now_ + duration;
    while (now_ < target) {
        peer_.advanceTo(now_, *this);
        const auto event = peer_.nextEventTime();
        now_ = event && *event > now_ && *event < target ? *event : target;
    }
    peer_.advanceTo(now_, *this);
}

void VirtualLine::discardInput() {
    peer_.advanceTo(now_, *this);
    toSender_.erase(toSender_.begin(), toSender_.upper_bound(now_));
}

} // namespace qz::test
