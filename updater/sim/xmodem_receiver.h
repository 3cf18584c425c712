#pragma once
// The receiving side of XMODEM as the bootloader runs it: asks with 'C' (CRC-16) or NAK
// (checksum), takes 128-byte (SOH) and 1K (STX) blocks, ACKs good ones and repeats of the
// last one, NAKs bad ones, ends on EOT or CAN CAN. Faults can be injected (see Faults).
// It does no I/O: bytes come in through onByte(), time through tick(), answers go out
// through the send callback.

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace qzsim {

using Clock = std::chrono::steady_clock;

struct ReceiverConfig {
    bool checksum = false;
    Clock::duration requestInterval = std::chrono::seconds(3);
    int crcRequests = 3;                                           // 'C' sent this often unanswered: fall back to NAK
    Clock::duration frameGap = std::chrono::milliseconds(200);     // gap inside a block: drop it
    Clock::duration garbageQuiet = std::chrono::milliseconds(100); // quiet after noise: NAK
    Clock::duration quietTimeout = std::chrono::seconds(10);
    int maxErrors = 20; // errors in a row before the receiver cancels
    // Faults.
    double bitErrorRate = 0;
    double dropAckRate = 0;
    double dupAckRate = 0;
    std::uint64_t seed = 1;
    long cancelAfter = -1;
    long stopAfter = -1;
    Clock::duration flashDelay{};
};

class XmodemReceiver {
public:
    enum class Result { Running, Complete, Cancelled, Stopped, Timeout };
    using Send = std::function<void(std::span<const std::uint8_t>)>;
    using Log = std::function<void(const std::string&)>;

    XmodemReceiver(const ReceiverConfig& config, Send send, Log log);

    void start(Clock::time_point now); // sends the first request
    void onByte(std::uint8_t byte, Clock::time_point now);
    void tick(Clock::time_point now);
    Clock::time_point nextDeadline() const;
    // False while a flash write is pending: received bytes wait until its ACK has gone.
    bool ready() const { return !ackPending_; }

    Result result() const { return result_; }
    const std::string& reason() const { return reason_; }
    const std::vector<std::uint8_t>& image() const { return image_; }
    bool crcMode() const { return crc_; }
    long blocks() const { return blocks_; }
    long blocks1k() const { return blocks1k_; }
    long duplicates() const { return duplicates_; }
    long errors() const { return errors_; }
    long bitFlips() const { return bitFlips_; }

private:
    enum class State { AwaitFrame, InFrame };

    void respond(std::uint8_t code, Clock::time_point now);
    bool ack(Clock::time_point now);
    void nak(Clock::time_point now, const std::string& why);
    void cancel(const std::string& why, Clock::time_point now);
    void finish(Result result, const std::string& why);
    void frameComplete(Clock::time_point now);
    bool chance(std::mt19937_64& rng, double rate);

    ReceiverConfig config_;
    Send send_;
    Log log_;
    Result result_ = Result::Running;
    std::string reason_;
    State state_ = State::AwaitFrame;
    bool crc_ = true;
    bool started_ = false; // a block has been seen
    bool deaf_ = false;    // --stop-after reached: parse, never answer
    bool clean_ = true;    // nothing but this byte since the last answer
    bool garbage_ = false;
    bool lastWasCan_ = false;
    bool flippedThisExchange_ = false;
    bool ackPending_ = false;
    int requests_ = 0;
    int errorsInRow_ = 0;
    std::vector<std::uint8_t> frame_;
    std::size_t frameSize_ = 0;
    std::vector<std::uint8_t> image_;
    long blocks_ = 0;
    long blocks1k_ = 0;
    long duplicates_ = 0;
    long errors_ = 0;
    long bitFlips_ = 0;
    Clock::time_point lastByte_{};
    Clock::time_point lastRequest_{};
    Clock::time_point ackAt_{};
    std::mt19937_64 flipRng_;
    std::mt19937_64 dropRng_;
    std::mt19937_64 dupRng_;
};

// CRC-16 with polynomial 0x1021 and initial value 0, as XMODEM uses it.
std::uint16_t crc16Xmodem(std::span<const std::uint8_t> data);

} // namespace qzsim
