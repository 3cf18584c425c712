// The XMODEM sender against scripted receivers and the receiver model, in virtual time.

#include "updater/core/xmodem_sender.h"

#include "updater/tests/support/virtual_line.h"
#include "updater/tests/support/xmodem_test_receiver.h"

#include <gtest/gtest.h>

#include <numeric>

namespace qz {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::TestReceiverOptions;
using test::VirtualLine;
using test::VirtualTime;
using test::XmodemTestReceiver;

constexpr std::uint8_t kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18;

std::vector<std::uint8_t> imageOf(std::size_t size, unsigned seed = 7) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 7));
    return image;
}

std::span<const std::uint8_t> bytes(std::initializer_list<std::uint8_t> list) { return {list.begin(), list.size()}; }

TestReceiverOptions receiverOptions(bool crc) {
    TestReceiverOptions options;
    options.crc = crc;
    return options;
}

XmodemHooks virtualHooks(const VirtualLine& line) {
    XmodemHooks hooks;
    hooks.clock = line.clock();
    return hooks;
}

// A transfer from the sender to the receiver model over a line without faults.
struct ModelTransfer {
    explicit ModelTransfer(TestReceiverOptions options) : receiver(std::move(options)), line(receiver) {
        receiver.start(line);
    }
    XmodemResult send(std::span<const std::uint8_t> image, XmodemOptions options = {}) {
        XmodemSender sender(line, options, virtualHooks(line));
        return sender.send(image);
    }
    XmodemTestReceiver receiver;
    VirtualLine line;
};

TEST(XmodemChecks, CrcAndChecksumOfKnownData) {
    const std::string text = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(xmodemCrc16({data, text.size()}), 0x31C3);
    EXPECT_EQ(xmodemChecksum({data, text.size()}), static_cast<std::uint8_t>(0x1DD));
}

TEST(XmodemFrames, CrcBlocksCarryNumberComplementPaddingAndCrc) {
    const auto image = imageOf(200);
    ModelTransfer transfer(receiverOptions(true));
    const XmodemResult result = transfer.send(image);
    ASSERT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;

    const auto& writes = transfer.line.writes();
    ASSERT_EQ(writes.size(), 3u); // two blocks and the EOT
    const auto& last = writes[1];
    ASSERT_EQ(last.size(), 133u);
    EXPECT_EQ(last[0], kSoh);
    EXPECT_EQ(last[1], 2);
    EXPECT_EQ(last[2], 0xFD);
    EXPECT_TRUE(std::equal(image.begin() + 128, image.end(), last.begin() + 3));
    EXPECT_TRUE(std::all_of(last.begin() + 3 + 72, last.begin() + 131, [](std::uint8_t b) { return b == 26; }));
    const std::uint16_t crc = xmodemCrc16({last.data() + 3, 128});
    EXPECT_EQ(last[131], crc >> 8);
    EXPECT_EQ(last[132], crc & 0xFF);
    EXPECT_EQ(writes[2], std::vector<std::uint8_t>{kEot});
    EXPECT_TRUE(transfer.receiver.holdsImage(image));
    EXPECT_EQ(result.progress.mode, XmodemMode::crc16);
}

TEST(XmodemFrames, ChecksumBlocksWhenTheReceiverAsksWithNak) {
    const auto image = imageOf(128);
    ModelTransfer transfer(receiverOptions(false));
    XmodemOptions options;
    options.padCharacter = 0xEE; // an exact block needs no padding whatever the pad byte
    const XmodemResult result = transfer.send(image, options);
    ASSERT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    const auto& block = transfer.line.writes().at(0);
    ASSERT_EQ(block.size(), 132u);
    EXPECT_EQ(block[131], xmodemChecksum({block.data() + 3, 128}));
    EXPECT_EQ(result.progress.mode, XmodemMode::checksum);
    EXPECT_TRUE(transfer.receiver.holdsImage(image));
}

TEST(XmodemFrames, PadCharacterFillsTheLastBlock) {
    const auto image = imageOf(1);
    ModelTransfer transfer(receiverOptions(true));
    XmodemOptions options;
    options.padCharacter = 0;
    ASSERT_EQ(transfer.send(image, options).outcome, XmodemOutcome::complete);
    EXPECT_TRUE(transfer.receiver.holdsImage(image, 0));
}

TEST(XmodemFrames, BlockNumbersWrapFrom255ToZero) {
    const auto image = imageOf(300 * 128 - 5);
    ModelTransfer transfer(receiverOptions(true));
    const XmodemResult result = transfer.send(image);
    ASSERT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    EXPECT_TRUE(transfer.receiver.holdsImage(image));
    const auto& writes = transfer.line.writes();
    ASSERT_EQ(writes.size(), 301u);
    EXPECT_EQ(writes[254][1], 255);
    EXPECT_EQ(writes[255][1], 0);
    EXPECT_EQ(writes[255][2], 0xFF);
    EXPECT_EQ(writes[256][1], 1);
    EXPECT_EQ(result.progress.blocksAcked, 300u);
    EXPECT_EQ(result.progress.bytesAcked, image.size());
}

TEST(XmodemFrames, EmptyImageIsJustTheEot) {
    ModelTransfer transfer(receiverOptions(true));
    const XmodemResult result = transfer.send({});
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    ASSERT_EQ(transfer.line.writes().size(), 1u);
    EXPECT_EQ(transfer.line.writes()[0], std::vector<std::uint8_t>{kEot});
    EXPECT_TRUE(transfer.receiver.completed());
    EXPECT_TRUE(transfer.receiver.data().empty());
}

TEST(XmodemStart, GarbageBeforeTheFirstRequestIsIgnored) {
    const auto image = imageOf(300);
    XmodemTestReceiver receiver(receiverOptions(true));
    VirtualLine line(receiver);
    // Boot messages, a stray ACK, a lone CAN and a NUL before the receiver asks.
    line.deliver(bytes({'b', 'o', 'o', 't', kAck, kCan, 0x00, 0xFF, '\r', '\n'}), line.now());
    receiver.start(line);
    XmodemSender sender(line, {}, virtualHooks(line));
    const XmodemResult result = sender.send(image);
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    EXPECT_TRUE(receiver.holdsImage(image));
    EXPECT_EQ(result.progress.retries, 0u);
}

TEST(XmodemStart, LastQueuedRequestChoosesTheCheck) {
    // A receiver that asked for CRC three times, then fell back to checksum, before we listened.
    const auto image = imageOf(130);
    XmodemTestReceiver receiver(receiverOptions(false));
    VirtualLine line(receiver);
    line.deliver(bytes({'C', 'C', 'C', kNak}), line.now());
    XmodemSender sender(line, {}, virtualHooks(line));
    const XmodemResult result = sender.send(image);
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    EXPECT_EQ(result.progress.mode, XmodemMode::checksum);
    EXPECT_TRUE(receiver.holdsImage(image));
}

TEST(XmodemStart, ReceiverThatNeverAsksEndsAtTheStartTimeoutWhileTheIdleHookRuns) {
    ScriptedPeer silent([](auto, auto, auto&) {});
    VirtualLine line(silent);
    std::vector<VirtualTime> idleCalls;
    XmodemHooks hooks = virtualHooks(line);
    hooks.idle = [&] {
        idleCalls.push_back(line.now());
        return IdleAction::proceed;
    };
    XmodemOptions options;
    options.startTimeout = 10s;
    const XmodemResult result = XmodemSender(line, options, hooks).send(imageOf(10));
    EXPECT_EQ(result.outcome, XmodemOutcome::timedOut);
    EXPECT_TRUE(line.writes().empty());
    EXPECT_GE(line.now() - VirtualTime{}, 10s);
    EXPECT_LE(line.now() - VirtualTime{}, 10s + options.idleInterval);
    ASSERT_GE(idleCalls.size(), 2u);
    for (std::size_t i = 1; i < idleCalls.size(); ++i) EXPECT_LE(idleCalls[i] - idleCalls[i - 1], options.idleInterval);
}

using Answers = std::vector<std::vector<std::uint8_t>>;

// A receiver scripted block by block: answers[i] is what it sends after the i-th write.
struct ScriptedTransfer {
    explicit ScriptedTransfer(Answers script, std::uint8_t request = 'C')
        : answers(std::move(script)), peer([this](std::span<const std::uint8_t>, VirtualTime arrived, VirtualLine& l) {
              if (next < answers.size()) l.deliver(answers[next], arrived + 1ms);
              ++next;
          }),
          line(peer) {
        line.deliver(bytes({request}), line.now());
    }
    XmodemResult send(std::span<const std::uint8_t> image, XmodemOptions options = {}, XmodemHooks hooks = {}) {
        hooks.clock = line.clock();
        return XmodemSender(line, options, std::move(hooks)).send(image);
    }
    Answers answers;
    std::size_t next = 0;
    ScriptedPeer peer;
    VirtualLine line;
};

TEST(XmodemRetries, NakResendsTheSameBlock) {
    ScriptedTransfer transfer(Answers{{kNak}, {kAck}, {kNak}, {kNak}, {kAck}, {kAck}});
    const XmodemResult result = transfer.send(imageOf(256));
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    const auto& writes = transfer.line.writes();
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(writes[0], writes[1]);
    EXPECT_EQ(writes[2], writes[3]);
    EXPECT_EQ(writes[3], writes[4]);
    EXPECT_EQ(writes[2][1], 2);
    EXPECT_EQ(result.progress.retries, 3u);
}

TEST(XmodemRetries, MaxErrorsNaksEndTheTransfer) {
    ScriptedTransfer transfer(Answers(20, {kNak}));
    const XmodemResult result = transfer.send(imageOf(100));
    EXPECT_EQ(result.outcome, XmodemOutcome::tooManyErrors);
    EXPECT_EQ(transfer.line.writes().size(), 10u);
}

TEST(XmodemRetries, ReceiverThatStopsAnsweringEndsInBoundedTime) {
    ScriptedTransfer transfer(Answers{{kAck}}); // ACKs block 1, then silence
    XmodemOptions options;
    const XmodemResult result = transfer.send(imageOf(1000), options);
    EXPECT_EQ(result.outcome, XmodemOutcome::timedOut);
    EXPECT_EQ(transfer.line.writes().size(), 1u + 10u);
    EXPECT_LE(transfer.line.now() - VirtualTime{}, 11 * options.packetTimeout);
}

TEST(XmodemRetries, NoiseBetweenAnswersDoesNotPostponeTheTimeout) {
    // A receiver that babbles without ever answering: the babble must not reset the wait.
    ScriptedPeer babbler([](std::span<const std::uint8_t>, VirtualTime arrived, VirtualLine& l) {
        for (int i = 1; i <= 40; ++i) l.deliver(bytes({'x'}), arrived + i * 100ms);
    });
    VirtualLine line(babbler);
    line.deliver(bytes({'C'}), line.now());
    XmodemOptions options;
    const XmodemResult result = XmodemSender(line, options, virtualHooks(line)).send(imageOf(10));
    EXPECT_EQ(result.outcome, XmodemOutcome::timedOut);
    EXPECT_LE(line.now() - VirtualTime{}, 11 * options.packetTimeout);
}

TEST(XmodemRetries, AnAnswerThatArrivedWhileTheIdleHookHeldIsNotATimeout) {
    // The hook sits in a modal loop (a window dragged) past the block's deadline; the ACK came
    // 1 ms after the block and waits unread.
    ScriptedTransfer transfer(Answers{{kAck}, {kAck}});
    XmodemHooks hooks;
    bool held = false;
    hooks.idle = [&] {
        if (transfer.line.writes().size() == 1 && !held) {
            held = true;
            transfer.line.pass(3s);
        }
        return IdleAction::proceed;
    };
    const XmodemResult result = transfer.send(imageOf(100), {}, hooks);
    EXPECT_TRUE(held);
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    EXPECT_EQ(transfer.line.writes().size(), 2u); // the block and the EOT, no resend
    EXPECT_EQ(result.progress.retries, 0u);
}

TEST(XmodemCancel, TwoCanInARowCancel) {
    ScriptedTransfer transfer(Answers{{kAck}, {kCan, kCan}});
    const XmodemResult result = transfer.send(imageOf(1000));
    EXPECT_EQ(result.outcome, XmodemOutcome::cancelled);
    EXPECT_EQ(transfer.line.writes().size(), 2u);
}

TEST(XmodemCancel, ALoneCanIsNoise) {
    ScriptedTransfer transfer(Answers{{kCan, kAck}, {kCan, 'x', kCan, kAck}, {kAck}});
    const XmodemResult result = transfer.send(imageOf(256));
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
}

TEST(XmodemCancel, CanIsIgnoredWhenCancelIsNotHonoured) {
    ScriptedTransfer transfer(Answers{{kCan, kCan, kAck}, {kAck}});
    XmodemOptions options;
    options.honourCancel = false;
    EXPECT_EQ(transfer.send(imageOf(10), options).outcome, XmodemOutcome::complete);
}

TEST(XmodemCancel, LocalAbortSendsTwoCan) {
    ScriptedTransfer transfer(Answers{{kAck}, {}});
    XmodemHooks hooks;
    int idleCalls = 0;
    hooks.idle = [&] { return ++idleCalls > 30 ? IdleAction::abort : IdleAction::proceed; };
    const XmodemResult result = transfer.send(imageOf(1000), {}, hooks);
    EXPECT_EQ(result.outcome, XmodemOutcome::aborted);
    EXPECT_EQ(transfer.line.writes().back(), (std::vector<std::uint8_t>{kCan, kCan}));

    ScriptedTransfer quiet(Answers{{kAck}, {}});
    XmodemOptions options;
    options.cancelOnAbort = false;
    std::atomic<bool> abort{true};
    XmodemHooks flagOnly;
    flagOnly.abortRequested = &abort;
    EXPECT_EQ(quiet.send(imageOf(1000), options, flagOnly).outcome, XmodemOutcome::aborted);
    EXPECT_TRUE(quiet.line.writes().empty());
}

TEST(XmodemLine, WriteOrReadFailureIsALineError) {
    ScriptedTransfer writeFails(Answers{{kAck}});
    writeFails.line.failWritesAfter(1);
    EXPECT_EQ(writeFails.send(imageOf(1000)).outcome, XmodemOutcome::lineError);

    ScriptedTransfer readFails(Answers{});
    readFails.line.failReads();
    EXPECT_EQ(readFails.send(imageOf(1000)).outcome, XmodemOutcome::lineError);
}

TEST(XmodemEnd, EotIsRepeatedUntilAcknowledged) {
    ScriptedTransfer nakFirst(Answers{{kAck}, {kNak}, {kAck}});
    EXPECT_EQ(nakFirst.send(imageOf(5)).outcome, XmodemOutcome::complete);
    EXPECT_EQ(nakFirst.line.writes().size(), 3u);

    ScriptedTransfer neverAcked(Answers{{kAck}});
    const XmodemResult silent = neverAcked.send(imageOf(5));
    EXPECT_EQ(silent.outcome, XmodemOutcome::timedOut);
    EXPECT_EQ(neverAcked.line.writes().size(), 1u + 10u);

    ScriptedTransfer refused(
        Answers{{kAck}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}, {kNak}});
    EXPECT_EQ(refused.send(imageOf(5)).outcome, XmodemOutcome::tooManyErrors);
}

TEST(XmodemStale, CrcRequestAfterBlockOneIsIgnored) {
    // The receiver's request repeated once more after it got block 1.
    ScriptedTransfer transfer(Answers{{kAck, 'C'}, {'C', kAck}, {kAck}});
    const XmodemResult result = transfer.send(imageOf(256));
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    EXPECT_EQ(transfer.line.writes().size(), 3u);
    EXPECT_EQ(result.progress.retries, 0u);
}

TEST(XmodemStale, DuplicateAcksAreDroppedBeforeTheNextBlock) {
    // The line hands over every ACK twice.
    ScriptedTransfer transfer(Answers{{kAck, kAck}, {kAck, kAck}, {kNak}, {kAck}, {kAck}});
    const XmodemResult result = transfer.send(imageOf(3 * 128));
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail;
    const auto& writes = transfer.line.writes();
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[3], writes[2]); // block 3 again after its NAK, not the EOT
    EXPECT_EQ(writes[4], std::vector<std::uint8_t>{kEot});
}

// A receiver slow to acknowledge one block makes the sender send it twice, and then
// acknowledges both copies. The second ACK must not count for the next block: here the next
// block's first copy is damaged, so a sender that took the stale ACK would move on (or, after
// the last block, end the file short of it).
// The ACK comes either just after the sender's time-out, while the second copy is still on the
// wire, or long after, when both copies are answered together.
class SlowAckTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SlowAckTest, SecondAckOfARepeatedBlockIsNotTakenForTheNext) {
    const auto [blocks, delayMs] = GetParam();
    const auto image = imageOf(static_cast<std::size_t>(blocks) * 128 - 3);
    TestReceiverOptions options;
    options.ackDelay = [blocks, delayMs](int block) {
        return block == blocks - 1 ? test::VirtualDuration(std::chrono::milliseconds(delayMs))
                                   : test::VirtualDuration{};
    };
    XmodemTestReceiver receiver(options);
    // Damage the first copy of the last block on its way.
    int writes = 0;
    class Damage final : public test::LinePeer {
    public:
        Damage(XmodemTestReceiver& inner, int& count, int target) : inner_(inner), count_(count), target_(target) {}
        void receive(std::span<const std::uint8_t> b, std::span<const VirtualTime> a, VirtualLine& l) override {
            std::vector<std::uint8_t> copy(b.begin(), b.end());
            if (copy.size() == 133 && copy[1] == target_ && !damaged_) {
                copy[60] ^= 0x10;
                damaged_ = true;
            }
            ++count_;
            inner_.receive(copy, a, l);
        }
        void advanceTo(VirtualTime t, VirtualLine& l) override { inner_.advanceTo(t, l); }
        std::optional<VirtualTime> nextEventTime() const override { return inner_.nextEventTime(); }

    private:
        XmodemTestReceiver& inner_;
        int& count_;
        int target_;
        bool damaged_ = false;
    } damage(receiver, writes, blocks);
    (void)writes;
    VirtualLine line(damage);
    receiver.start(line);
    const XmodemResult result = XmodemSender(line, {}, virtualHooks(line)).send(image);
    EXPECT_EQ(result.outcome, XmodemOutcome::complete) << result.detail << " / receiver: " << receiver.failure();
    EXPECT_TRUE(receiver.holdsImage(image));
    EXPECT_GE(receiver.duplicatesSeen(), 1);
}

INSTANTIATE_TEST_SUITE_P(LastAndMiddleBlock, SlowAckTest,
                         ::testing::Combine(::testing::Values(3, 5), ::testing::Values(1005, 1500)));

TEST(XmodemProgress, ReportsBlocksAndBytesUpToTheTotal) {
    const auto image = imageOf(1000);
    ModelTransfer transfer(receiverOptions(true));
    std::vector<XmodemProgress> reports;
    XmodemHooks hooks = virtualHooks(transfer.line);
    hooks.progress = [&](const XmodemProgress& p) { reports.push_back(p); };
    const XmodemResult result = XmodemSender(transfer.line, {}, hooks).send(image);
    ASSERT_EQ(result.outcome, XmodemOutcome::complete);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().phase, XmodemPhase::waitingForReceiver);
    EXPECT_EQ(reports.back().phase, XmodemPhase::finished);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].blocksAcked, reports[i - 1].blocksAcked);
        EXPECT_LE(reports[i].bytesAcked, image.size());
    }
    EXPECT_EQ(reports.back().blocksTotal, 8u);
    EXPECT_EQ(reports.back().blocksAcked, 8u);
    EXPECT_EQ(reports.back().bytesAcked, 1000u);
}

} // namespace
} // namespace qz
