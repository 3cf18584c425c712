#pragma once
// A serial line in virtual time for protocol tests: the sender under test reads and writes a
// ByteChannel, the far end is a LinePeer, and nothing sleeps. Time moves when the sender waits
// (read with a timeout) and while its bytes are on the wire (write). Faults can be injected in
// both directions from a seeded generator.

#include "updater/core/byte_channel.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace qz::test {

using VirtualClock = std::chrono::steady_clock;
using VirtualTime = VirtualClock::time_point;
using VirtualDuration = VirtualClock::duration;
using std::chrono::milliseconds;

class VirtualLine;

// The far end of the line.
class LinePeer {
public:
    virtual ~LinePeer() = default;
    // The bytes of one write of the sender as they come off the line (after faults), the
    // i-th arriving at arrivals[i].
    virtual void receive(std::span<const std::uint8_t> bytes, std::span<const VirtualTime> arrivals,
                         VirtualLine& line) = 0;
    // Runs everything the peer does up to `time` (its own time-outs, delayed answers).
    virtual void advanceTo(VirtualTime time, VirtualLine& line) {
        (void)time;
        (void)line;
    }
    // When the peer next acts on its own, if it will.
    virtual std::optional<VirtualTime> nextEventTime() const { return std::nullopt; }
};

// Faults of the line, each a probability per byte. Bit errors towards the receiver are capped
// per write, so that the receiver's block check can see them (CRC-16 sees any 3 bit errors, the
// checksum any single one); a line that fools the check fools every XMODEM sender alike.
struct LineFaults {
    double bitErrorRate = 0; // sender -> receiver: one bit of the byte flipped
    int maxBitErrorsPerWrite = 3;
    double dropRate = 0;            // sender -> receiver: byte lost
    double answerBitErrorRate = 0;  // receiver -> sender: one bit of the byte flipped
    double answerDropRate = 0;      // receiver -> sender: byte lost
    double answerDuplicateRate = 0; // receiver -> sender: byte arrives twice
    double answerNoiseRate = 0;     // receiver -> sender: a noise byte (never a control byte) first
};

class VirtualLine final : public ByteChannel {
public:
    explicit VirtualLine(LinePeer& peer, std::uint32_t seed = 1);

    void setFaults(const LineFaults& faults) { faults_ = faults; }
    void failWritesAfter(int writes) { writesLeft_ = writes; }
    void failReads() { readsFail_ = true; }

    // Lets time pass without the sender reading (the sender busy elsewhere).
    void pass(VirtualDuration duration);

    VirtualTime now() const { return now_; }
    std::function<VirtualTime()> clock() const {
        return [this] { return now_; };
    }
    VirtualDuration byteTime() const { return byteTime_; }

    // For the peer: bytes towards the sender, leaving at `time` (faults applied).
    void answer(std::span<const std::uint8_t> bytes, VirtualTime time);
    // For tests: bytes that reach the sender at `time` exactly as given.
    void deliver(std::span<const std::uint8_t> bytes, VirtualTime time);

    // Every write of the sender, as written (before faults).
    const std::vector<std::vector<std::uint8_t>>& writes() const { return writes_; }

    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override;
    bool write(std::span<const std::uint8_t> bytes) override;
    void discardInput() override;

private:
    bool chance(double probability);
    std::uint8_t flipOneBit(std::uint8_t byte);

    LinePeer& peer_;
    std::mt19937 random_;
    VirtualTime now_{};
    VirtualDuration byteTime_ = std::chrono::microseconds(100);
    LineFaults faults_;
    std::multimap<VirtualTime, std::uint8_t> toSender_;
    std::vector<std::vector<std::uint8_t>> writes_;
    int writesLeft_ = -1;
    bool readsFail_ = false;
};

// A peer driven by a script: for every write of the sender it gets the bytes as written and
// the line, and answers through line.deliver() / line.answer().
class ScriptedPeer final : public LinePeer {
public:
    using Script = std::function<void(std::span<const std::uint8_t> written, VirtualTime arrived, VirtualLine& line)>;
    explicit ScriptedPeer(Script script) : script_(std::move(script)) {}
    void receive(std::span<const std::uint8_t> bytes, std::span<const VirtualTime> arrivals,
                 VirtualLine& line) override {
        script_(bytes, arrivals.empty() ? line.now() : arrivals.back(), line);
    }

private:
    Script script_;
};

} // namespace qz::test
