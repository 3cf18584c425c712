#include "updater/tests/support/xmodem_test_receiver.h"

#include <algorithm>

namespace qz::test {
namespace {

constexpr std::uint8_t kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18;

// CRC-16/XMODEM, table-free and written from the definition (independent of the sender's).
std::uint16_t crcOf(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (data[i] >> bit) & 1;
            const bool top = (crc >> 15) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (in != top) crc ^= 0x1021;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

} // namespace

XmodemTestReceiver::XmodemTestReceiver(TestReceiverOptions options)
    : options_(std::move(options)), crc_(options_.crc) {}

void XmodemTestReceiver::start(VirtualLine& line) {
    if (options_.muteAfterBlocks == 0) muted_ = true;
    sendAt(crc_ ? 'C' : kNak, line.now(), line);
    requests_ = 1;
    lastActivity_ = line.now();
}

void XmodemTestReceiver::sendAt(std::uint8_t byte, VirtualTime time, VirtualLine& line) {
    if (muted_) return;
    const std::uint8_t bytes[] = {byte};
    line.answer(bytes, time);
}

void XmodemTestReceiver::fail(std::string why, VirtualTime time, VirtualLine& line, bool sendCancel) {
    if (sendCancel && !muted_) {
        const std::uint8_t cancel[] = {kCan, kCan, kCan};
        line.answer(cancel, time);
    }
    failure_ = std::move(why);
    state_ = State::failed;
    inbox_.clear();
}

void XmodemTestReceiver::receive(std::span<const std::uint8_t> bytes, std::span<const VirtualTime> arrivals,
                                 VirtualLine& line) {
    (void)line;
    if (state_ == State::done || state_ == State::failed) return;
    for (std::size_t i = 0; i < bytes.size(); ++i) inbox_.push_back({arrivals[i], bytes[i]});
}

// Drops what has already arrived: a receiver flushes its input before it NAKs, so that the
// rest of a bad block is not taken for the start of the next one.
void XmodemTestReceiver::nak(VirtualTime time, VirtualLine& line) {
    while (!inbox_.empty() && inbox_.front().arrival <= time) inbox_.pop_front();
    // Until a first good block has come, time-outs repeat the request rather than NAK.
    state_ = numbersSeen_.empty() ? State::waitingStart : State::betweenBlocks;
    lastActivity_ = time;
    if (++errors_ >= options_.maxErrors) {
        fail("too many errors on block " + std::to_string(expected_), time, line, true);
        return;
    }
    ++naks_;
    sendAt(kNak, time, line);
}

std::optional<VirtualTime> XmodemTestReceiver::nextEventTime() const {
    if (state_ == State::done || state_ == State::failed) return std::nullopt;
    std::optional<VirtualTime> next;
    const auto consider = [&next](VirtualTime time) {
        if (!next || time < *next) next = time;
    };
    if (!inbox_.empty()) consider(std::max(inbox_.front().arrival, busyUntil_));
    switch (state_) {
    case State::waitingStart: consider(std::max(lastActivity_ + options_.requestInterval, busyUntil_)); break;
    case State::betweenBlocks: consider(std::max(lastActivity_ + options_.blockTimeout, busyUntil_)); break;
    case State::inBlock: consider(std::max(lastByte_ + options_.charTimeout, busyUntil_)); break;
    default: break;
    }
    return next;
}

void XmodemTestReceiver::advanceTo(VirtualTime time, VirtualLine& line) {
    for (;;) {
        const auto next = nextEventTime();
        if (!next || *next > time) return;
        const VirtualTime at = *next;
        if (!inbox_.empty() && std::max(inbox_.front().arrival, busyUntil_) == at) {
            const Incoming incoming = inbox_.front();
            inbox_.pop_front();
            handleByte(incoming.byte, at, line);
            continue;
        }
        // A time-out of the current state.
        if (state_ == State::waitingStart) {
            if (requests_ >= options_.maxRequests) {
                fail("the sender never started", at, line, true);
                continue;
            }
            ++requests_;
            lastActivity_ = at;
            sendAt(crc_ ? 'C' : kNak, at, line);
        } else {
            nak(at, line);
        }
    }
}

void XmodemTestReceiver::handleByte(std::uint8_t byte, VirtualTime time, VirtualLine& line) {
    if (state_ == State::inBlock) {
        frame_.push_back(byte);
        lastByte_ = time;
        if (frame_.size() == frameLength()) checkBlock(time, line);
        return;
    }
    // Waiting for the start of a block.
    const bool can = byte == kCan;
    if (can && lastWasCan_) {
        fail("the sender cancelled", time, line, false);
        return;
    }
    lastWasCan_ = can;
    if (byte == kSoh) {
        state_ = State::inBlock;
        frame_.clear();
        lastByte_ = time;
    } else if (byte == kEot) {
        if (options_.nakFirstEot && !eotNaked_) {
            eotNaked_ = true;
            lastActivity_ = time;
            sendAt(kNak, time, line);
            return;
        }
        sendAt(kAck, time, line);
        state_ = State::done;
        inbox_.clear();
    }
    // Anything else between blocks is line noise.
}

void XmodemTestReceiver::checkBlock(VirtualTime time, VirtualLine& line) {
    const std::uint8_t number = frame_[0];
    const std::uint8_t complement = frame_[1];
    const std::uint8_t* payload = frame_.data() + 2;
    bool good = static_cast<std::uint8_t>(number + complement) == 0xFF;
    if (crc_) {
        const std::uint16_t sent = static_cast<std::uint16_t>(frame_[130] << 8 | frame_[131]);
        good = good && crcOf(payload, 128) == sent;
    } else {
        unsigned sum = 0;
        for (int i = 0; i < 128; ++i) sum += payload[i];
        good = good && static_cast<std::uint8_t>(sum) == frame_[130];
    }
    if (!good) {
        nak(time, line);
        return;
    }
    numbersSeen_.push_back(number);
    state_ = State::betweenBlocks;
    lastActivity_ = time;
    if (number == static_cast<std::uint8_t>(expected_ - 1) && blocksStored_ > 0) {
        ++duplicates_;
        sendAt(kAck, time, line);
        return;
    }
    if (number != expected_) {
        fail("block " + std::to_string(number) + " out of sequence, expected " + std::to_string(expected_), time, line,
             true);
        return;
    }
    data_.insert(data_.end(), payload, payload + 128);
    ++blocksStored_;
    ++expected_;
    errors_ = 0;
    if (blocksStored_ == options_.cancelAfterBlocks) {
        fail("cancelled by the receiver's user", time, line, true);
        return;
    }
    if (blocksStored_ == options_.muteAfterBlocks) muted_ = true;
    const VirtualDuration delay = options_.ackDelay ? options_.ackDelay(blocksStored_) : VirtualDuration{};
    busyUntil_ = time + delay;
    lastActivity_ = busyUntil_;
    sendAt(kAck, busyUntil_, line);
}

bool XmodemTestReceiver::holdsImage(std::span<const std::uint8_t> image, std::uint8_t pad) const {
    if (!completed()) return false;
    const std::size_t blocks = (image.size() + 127) / 128;
    if (data_.size() != blocks * 128) return false;
    if (!std::equal(image.begin(), image.end(), data_.begin())) return false;
    return std::all_of(data_.begin() + static_cast<std::ptrdiff_t>(image.size()), data_.end(),
                       [pad](std::uint8_t byte) { return byte == pad; });
}

} // namespace qz::test
