#pragma once
// An XMODEM receiver for protocol tests, written apart from the sender (its own CRC and frame
// handling), behaving as real receivers do: it asks with 'C' or NAK and repeats the request,
// checks the block number, its complement and the CRC or checksum, NAKs a bad or short block,
// ACKs a repeated block without storing it, cancels on a block out of sequence, ACKs the EOT
// and then is gone. It runs on a VirtualLine, in virtual time.

#include "updater/tests/support/virtual_line.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qz::test {

struct TestReceiverOptions {
    bool crc = true;
    milliseconds requestInterval{3000}; // repeat of the first request
    int maxRequests = 10;
    milliseconds charTimeout{200};   // silence inside a block before it is NAKed
    milliseconds blockTimeout{3000}; // silence between blocks before a NAK
    int maxErrors = 10;              // per block, then two CAN
    bool nakFirstEot = false;        // some receivers make the sender repeat the EOT
    int cancelAfterBlocks = -1;      // sends two CAN after this many blocks (-1: never)
    int muteAfterBlocks = -1;        // stops answering for good after this many blocks (0: dead)
    // Time from the end of a good block to its ACK (a flash write), by block count (1-based).
    std::function<VirtualDuration(int block)> ackDelay;
};

class XmodemTestReceiver final : public LinePeer {
public:
    explicit XmodemTestReceiver(TestReceiverOptions options);

    // Sends the first request at the line's current time.
    void start(VirtualLine& line);

    void receive(std::span<const std::uint8_t> bytes, std::span<const VirtualTime> arrivals,
                 VirtualLine& line) override;
    void advanceTo(VirtualTime time, VirtualLine& line) override;
    std::optional<VirtualTime> nextEventTime() const override;

    bool completed() const { return state_ == State::done; }
    const std::string& failure() const { return failure_; }
    const std::vector<std::uint8_t>& data() const { return data_; }
    int duplicatesSeen() const { return duplicates_; }
    // Completed, and the data is the image followed by padding up to whole blocks.
    bool holdsImage(std::span<const std::uint8_t> image, std::uint8_t pad = 26) const;

private:
    enum class State { waitingStart, betweenBlocks, inBlock, done, failed };
    struct Incoming {
        VirtualTime arrival;
        std::uint8_t byte;
    };

    void handleByte(std::uint8_t byte, VirtualTime time, VirtualLine& line);
    void checkBlock(VirtualTime time, VirtualLine& line);
    void nak(VirtualTime time, VirtualLine& line);
    void sendAt(std::uint8_t byte, VirtualTime time, VirtualLine& line);
    void fail(std::string why, VirtualTime time, VirtualLine& line, bool sendCancel);
    std::size_t frameLength() const { return crc_ ? 132 : 131; } // after SOH

    TestReceiverOptions options_;
    bool crc_;
    State state_ = State::waitingStart;
    std::deque<Incoming> inbox_;
    VirtualTime busyUntil_{};
    VirtualTime lastByte_{};
    VirtualTime lastActivity_{};
    int requests_ = 0;
    std::uint8_t expected_ = 1;
    int errors_ = 0;
    int blocksStored_ = 0;
    int duplicates_ = 0;
    int naks_ = 0;
    bool eotNaked_ = false;
    bool lastWasCan_ = false;
    bool muted_ = false;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> numbersSeen_;
    std::string failure_;
};

} // namespace qz::test
