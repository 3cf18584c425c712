// Many transfers over a faulty line to the receiver model: bit errors and lost bytes towards
// the receiver, lost, damaged, doubled and noisy answers towards the sender, receivers slow to
// acknowledge, receivers that cancel or fall silent. Every run is seeded, so a failure names
// the seed that reproduces it.

#include "updater/core/xmodem_sender.h"

#include "updater/tests/support/virtual_line.h"
#include "updater/tests/support/xmodem_test_receiver.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace qz {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::LineFaults;
using test::TestReceiverOptions;
using test::VirtualDuration;
using test::VirtualLine;
using test::VirtualTime;
using test::XmodemTestReceiver;

struct NoisyRun {
    std::uint32_t seed = 0;
    std::vector<std::uint8_t> image;
    TestReceiverOptions receiver;
    LineFaults faults;
    milliseconds senderLate{0};
};

template <typename T>
T pick(std::mt19937& random, std::initializer_list<T> choices) {
    return *(choices.begin() + std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random));
}

std::vector<std::uint8_t> randomImage(std::mt19937& random) {
    std::size_t size = pick<std::size_t>(random, {0, 1, 127, 128, 129, 256, 0});
    if (size == 0 && random() % 2) size = std::uniform_int_distribution<std::size_t>(2, 1600)(random);
    std::vector<std::uint8_t> image(size);
    // Firmware-like content: runs of padding bytes, control bytes and noise.
    for (auto& byte : image)
        byte = random() % 4 == 0 ? pick<std::uint8_t>(random, {0x1A, 0x01, 0x04, 0x06, 0x15, 0x18, 'C', 0xFF, 0})
                                 : static_cast<std::uint8_t>(random());
    return image;
}

NoisyRun makeRun(std::uint32_t seed) {
    std::mt19937 random(seed);
    NoisyRun run;
    run.seed = seed;
    run.image = randomImage(random);
    run.receiver.crc = random() % 4 != 0;
    run.receiver.nakFirstEot = random() % 5 == 0;
    run.receiver.charTimeout = pick(random, {100ms, 200ms, 500ms});
    // Receivers that repeat their request quickly, to a sender that starts listening late: the
    // requests pile up, and one may cross block 1 on the line.
    run.receiver.requestInterval = pick(random, {3000ms, 1000ms, 100ms, 40ms});
    run.receiver.maxRequests = 1000;
    run.senderLate = std::chrono::milliseconds(pick(random, {0, 0, 95, 250, 1990}));
    const int slowOneIn = pick(random, {0, 4, 12});
    const std::uint32_t delaySeed = seed * 7919u;
    run.receiver.ackDelay = [slowOneIn, delaySeed](int block) -> VirtualDuration {
        std::mt19937 delays(delaySeed + static_cast<std::uint32_t>(block));
        // Slow ones come mostly just around the sender's packet time-out, when a second copy is
        // already on its way.
        if (slowOneIn && delays() % static_cast<unsigned>(slowOneIn) == 0) {
            const bool nearTimeout = delays() % 2 == 0;
            return std::chrono::milliseconds(nearTimeout ? std::uniform_int_distribution<int>(985, 1030)(delays)
                                                         : std::uniform_int_distribution<int>(900, 1700)(delays));
        }
        return std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(delays));
    };
    LineFaults& faults = run.faults;
    faults.bitErrorRate = pick(random, {0.0, 0.0005, 0.002, 0.006});
    faults.maxBitErrorsPerWrite = run.receiver.crc ? 3 : 1;
    faults.dropRate = pick(random, {0.0, 0.0005, 0.002});
    faults.answerDropRate = pick(random, {0.0, 0.03, 0.1});
    faults.answerBitErrorRate = pick(random, {0.0, 0.03, 0.1});
    faults.answerDuplicateRate = pick(random, {0.0, 0.1, 0.3});
    faults.answerNoiseRate = pick(random, {0.0, 0.05, 0.2});
    return run;
}

std::string describe(const NoisyRun& run, const XmodemResult& result, const XmodemTestReceiver& receiver) {
    std::ostringstream text;
    text << "seed " << run.seed << ": " << run.image.size() << " bytes, " << (run.receiver.crc ? "CRC" : "checksum")
         << ", outcome " << static_cast<int>(result.outcome) << " (" << result.detail << "), retries "
         << result.progress.retries << ", receiver "
         << (receiver.completed() ? "completed" : "failed: " + receiver.failure()) << " with " << receiver.data().size()
         << " bytes";
    return text.str();
}

struct Outcome {
    XmodemResult result;
    VirtualDuration elapsed;
};

Outcome transfer(const NoisyRun& run, XmodemTestReceiver& receiver, const XmodemOptions& options) {
    VirtualLine line(receiver, run.seed);
    line.setFaults(run.faults);
    receiver.start(line);
    line.pass(run.senderLate);
    XmodemHooks hooks;
    hooks.clock = line.clock();
    const VirtualTime started = line.now();
    XmodemResult result = XmodemSender(line, options, hooks).send(run.image);
    return {std::move(result), line.now() - started};
}

// Longest a transfer may take when every block uses up its attempts and then settles.
VirtualDuration worstCase(const XmodemOptions& options, std::size_t imageSize) {
    const auto blocks = static_cast<int>((imageSize + 127) / 128);
    const VirtualDuration perAttempt = options.packetTimeout + 133 * 100us + 10ms;
    return options.startTimeout + blocks * (options.maxErrors + 1) * perAttempt +
           options.eotAttempts * (options.eotTimeout + 10ms);
}

TEST(XmodemNoise, NeverReportsCompleteForAnImageThatDidNotArriveIntact) {
    const XmodemOptions options;
    int complete = 0, withRetries = 0, runs = 0;
    std::vector<std::string> falseSuccesses;
    for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
        const NoisyRun run = makeRun(seed);
        XmodemTestReceiver receiver(run.receiver);
        const Outcome outcome = transfer(run, receiver, options);
        ++runs;
        if (outcome.result.progress.retries > 0) ++withRetries;
        if (outcome.result.outcome == XmodemOutcome::complete) {
            ++complete;
            if (!receiver.holdsImage(run.image)) falseSuccesses.push_back(describe(run, outcome.result, receiver));
        }
        ASSERT_LE(outcome.elapsed, worstCase(options, run.image.size())) << describe(run, outcome.result, receiver);
    }
    EXPECT_TRUE(falseSuccesses.empty()) << falseSuccesses.size()
                                        << " false successes, first: " << falseSuccesses.front();
    // The faults must leave most transfers able to finish, and must bite often enough to matter.
    EXPECT_GT(complete, runs * 6 / 10) << complete << " of " << runs << " complete";
    EXPECT_GT(withRetries, runs / 3) << withRetries << " of " << runs << " needed retries";
}

TEST(XmodemNoise, ReceiverThatCancelsOrFallsSilentEndsTheTransferInBoundedTime) {
    XmodemOptions options;
    options.startTimeout = 5s;
    int cancelled = 0, silent = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        NoisyRun run = makeRun(seed + 100000);
        if (run.image.size() < 256) run.image.resize(256 + seed, 0x5A);
        const int blocks = static_cast<int>((run.image.size() + 127) / 128);
        const bool cancels = seed % 3 == 0;
        const int after = static_cast<int>(seed % static_cast<std::uint32_t>(blocks));
        if (cancels)
            run.receiver.cancelAfterBlocks = after + 1;
        else
            run.receiver.muteAfterBlocks = after;
        XmodemTestReceiver receiver(run.receiver);
        const Outcome outcome = transfer(run, receiver, options);
        const std::string what = describe(run, outcome.result, receiver);
        EXPECT_NE(outcome.result.outcome, XmodemOutcome::complete) << what;
        EXPECT_LE(outcome.elapsed, worstCase(options, run.image.size())) << what;
        if (outcome.result.outcome == XmodemOutcome::cancelled) ++cancelled;
        if (outcome.result.outcome == XmodemOutcome::timedOut) ++silent;
        if (!cancels && after == 0) {
            EXPECT_EQ(outcome.result.outcome, XmodemOutcome::timedOut) << what;
            EXPECT_LE(outcome.elapsed, options.startTimeout + options.idleInterval) << what;
        }
    }
    EXPECT_GT(cancelled, 50);
    EXPECT_GT(silent, 100);
}

} // namespace
} // namespace qz
