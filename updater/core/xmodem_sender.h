#pragma once
// XMODEM sender over any ByteChannel. Portable, no UI: progress goes out through a callback and
// the caller's idle hook runs while the sender waits (a window pumps its messages there).
//
// The protocol as sent here:
// - The receiver starts the transfer: 'C' asks for CRC-16 blocks, NAK for checksum blocks.
//   Bytes before the first request are ignored. When several requests are already queued, the
//   last one decides (a receiver that gave up on CRC and fell back to checksum).
// - Blocks: SOH, block number, its complement, 128 data bytes, then CRC-16 (high byte first,
//   polynomial 0x1021, initial 0) or the 8-bit sum of the data. Numbers start at 1 and wrap from
//   255 to 0. The last block is filled up with the pad character.
// - A block is sent again on NAK and when no answer comes within the packet timeout; after
//   maxErrors failed attempts at one block the transfer ends.
// - An empty image is sent as no block at all: the EOT follows the receiver's first request.
// - EOT is sent until the receiver acknowledges it, at most eotAttempts times, each time waiting
//   eotTimeout for the answer.
// - Two CAN in a row from the receiver end the transfer (honourCancel). An abort from this side
//   sends two CAN (cancelOnAbort).
// - XmodemOutcome::complete only when every block and the EOT were acknowledged.
//
// Stale answers: XMODEM's ACK carries no block number, so an ACK for a copy sent twice could be
// taken for the next block. Before every block the sender drops input already received, and it
// counts the copies of each block it sent against the answers that surely belong to them. When
// a block was acknowledged while copies of it are still unanswered, the sender waits for those
// answers (until a packet timeout after the last copy) before it sends the next block. A 'C'
// or NAK can be a request that crossed our first block on the line and a NAK can be the
// receiver's own time-out, so those count as answers only while the line is known to be in step
// (after block 1, before any time-out of the block). A 'C' after block 1 was acknowledged is a
// stale request and is ignored.

#include "updater/core/byte_channel.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace qz {

namespace xmodem {
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t CAN = 0x18;
inline constexpr std::uint8_t CRC_REQUEST = 'C';
inline constexpr std::size_t kBlockDataSize = 128;
inline constexpr std::size_t kCrcFrameSize = 3 + kBlockDataSize + 2;
inline constexpr std::size_t kChecksumFrameSize = 3 + kBlockDataSize + 1;
} // namespace xmodem

enum class XmodemMode { undecided, crc16, checksum };
enum class XmodemPhase { waitingForReceiver, sendingBlocks, endingTransfer, finished };

// Timing values and limits of one transfer.
struct XmodemOptions {
    // Wait for the answer to a block or to the EOT before sending it again.
    std::chrono::milliseconds packetTimeout{1000};
    // Wait for the receiver's first request. Receivers repeat their request every few seconds,
    // some only every 10 s; 30 s gives such a receiver three chances.
    std::chrono::milliseconds startTimeout{30000};
    // Wait for the answer to the EOT before sending it again. Longer than the packet timeout:
    // receivers close their file or finish programming before they answer, and some take the
    // EOT only after a second of silence behind it (a repeat within that second counts as noise).
    std::chrono::milliseconds eotTimeout{3000};
    // Failed attempts (NAK or no answer) at one block before the transfer ends.
    int maxErrors = 10;
    // EOT sent at most this often.
    int eotAttempts = 10;
    std::uint8_t padCharacter = 26;
    // Two CAN in a row from the receiver end the transfer.
    bool honourCancel = true;
    // A local abort sends two CAN to the receiver.
    bool cancelOnAbort = true;
    // While waiting, the idle hook is called at least this often.
    std::chrono::milliseconds idleInterval{50};
};

struct XmodemProgress {
    XmodemPhase phase = XmodemPhase::waitingForReceiver;
    XmodemMode mode = XmodemMode::undecided;
    std::size_t blocksTotal = 0;
    std::size_t blocksAcked = 0;
    std::uint64_t bytesTotal = 0; // size of the image
    std::uint64_t bytesAcked = 0; // image bytes in acknowledged blocks
    unsigned retries = 0;         // blocks and EOTs sent again
};

enum class IdleAction { proceed, abort };

struct XmodemHooks {
    // After the receiver's request, each acknowledged block, each resend and at the end.
    std::function<void(const XmodemProgress&)> progress;
    // While waiting for the receiver; abort ends the transfer (XmodemOutcome::aborted).
    std::function<IdleAction()> idle;
    // Set from anywhere (another thread, a signal handler) to abort at the next wait.
    const std::atomic<bool>* abortRequested = nullptr;
    // Monotonic clock for the timeouts; the steady clock when empty (tests give a virtual one).
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// How a transfer ended.
enum class XmodemOutcome {
    complete,      // every block and the EOT acknowledged
    cancelled,     // the receiver sent two CAN in a row
    timedOut,      // the receiver never started, or stopped answering
    tooManyErrors, // maxErrors attempts at one block (or eotAttempts EOTs) used up
    lineError,     // the line failed
    aborted,       // stopped from this side
};

struct XmodemResult {
    XmodemOutcome outcome = XmodemOutcome::aborted;
    XmodemProgress progress; // statistics at the end
    std::string detail;      // what ended the transfer, in words
};

// CRC-16 as XMODEM uses it (polynomial 0x1021, initial value 0, no reflection).
std::uint16_t xmodemCrc16(std::span<const std::uint8_t> data);
// 8-bit sum of the data.
std::uint8_t xmodemChecksum(std::span<const std::uint8_t> data);

class XmodemSender {
public:
    XmodemSender(ByteChannel& channel, XmodemOptions options, XmodemHooks hooks = {});

    // Sends the image and returns when the transfer has ended.
    XmodemResult send(std::span<const std::uint8_t> image);

private:
    enum class Answer { ack, nak, crcRequest, cancelled, timedOut, aborted, lineError };
    using TimePoint = std::chrono::steady_clock::time_point;
    // The steps of a transfer: empty while it goes on, the result once it has ended.
    using Step = std::optional<XmodemResult>;

    // The copies of one block sent so far and what became of them.
    struct BlockTally {
        int copies = 0;   // copies written
        int answered = 0; // answers that surely belong to one of those copies
        int errors = 0;   // NAKs, time-outs and repeated requests
        int timeouts = 0;
        TimePoint lastCopySent{};
    };

    Step waitForStart();
    Step sendBlock(std::span<const std::uint8_t> image, std::size_t index);
    Answer awaitBlockAnswer(std::span<const std::uint8_t> image, std::size_t index, BlockTally& tally);
    Step settle(const BlockTally& tally);
    XmodemResult endTransmission();

    TimePoint now() const;
    Answer await(TimePoint deadline);
    bool abortWanted();
    void dropInput();
    bool writeBytes(std::span<const std::uint8_t> bytes);
    void buildFrame(std::span<const std::uint8_t> image, std::size_t index);
    void takeQueuedRequests();
    void report();
    XmodemResult finish(XmodemOutcome outcome, std::string detail);
    XmodemResult finishOn(Answer answer, const char* during);

    ByteChannel& channel_;
    XmodemOptions options_;
    XmodemHooks hooks_;
    XmodemProgress progress_;
    std::uint8_t input_[256]{};
    std::size_t inputBegin_ = 0;
    std::size_t inputEnd_ = 0;
    bool lastWasCan_ = false;
    // Every answer the receiver sends belongs to a copy we sent (see "Stale answers").
    bool inStep_ = false;
    std::uint8_t frame_[xmodem::kCrcFrameSize]{};
    std::size_t frameSize_ = 0;
};

} // namespace qz
