#include "updater/core/xmodem_sender.h"

#include <algorithm>
#include <array>

namespace qz {

using namespace xmodem;

std::uint16_t xmodemCrc16(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::uint8_t xmodemChecksum(std::span<const std::uint8_t> data) {
    unsigned sum = 0;
    for (const std::uint8_t byte : data) sum += byte;
    return static_cast<std::uint8_t>(sum);
}

XmodemSender::XmodemSender(ByteChannel& channel, XmodemOptions options, XmodemHooks hooks)
    : channel_(channel), options_(options), hooks_(std::move(hooks)) {
    options_.maxErrors = std::max(options_.maxErrors, 1);
    options_.eotAttempts = std::max(options_.eotAttempts, 1);
    options_.idleInterval = std::max(options_.idleInterval, std::chrono::milliseconds{1});
}

XmodemSender::TimePoint XmodemSender::now() const {
    return hooks_.clock ? hooks_.clock() : std::chrono::steady_clock::now();
}

// The flag is read after the idle hook: the hook may be where the abort is asked for (a window
// closing while its messages are pumped).
bool XmodemSender::abortWanted() {
    if (hooks_.idle && hooks_.idle() == IdleAction::abort) return true;
    return hooks_.abortRequested && hooks_.abortRequested->load();
}

void XmodemSender::dropInput() {
    inputBegin_ = inputEnd_ = 0;
    channel_.discardInput();
}

bool XmodemSender::writeBytes(std::span<const std::uint8_t> bytes) { return channel_.write(bytes); }

void XmodemSender::report() {
    if (hooks_.progress) hooks_.progress(progress_);
}

// Waits for the next byte that means something to a sender: ACK, NAK, 'C' or two CAN in a row.
// Other bytes are line noise and are skipped; the deadline stays as it was, so a receiver that
// babbles cannot keep the sender waiting for ever. Past the deadline the line is read once more
// without waiting before it counts as a time-out: the idle hook may have held the thread (a
// modal loop) while the answer arrived.
XmodemSender::Answer XmodemSender::await(TimePoint deadline) {
    bool lastLook = false;
    for (;;) {
        while (inputBegin_ < inputEnd_) {
            const std::uint8_t byte = input_[inputBegin_++];
            if (byte == CAN && options_.honourCancel) {
                if (lastWasCan_) {
                    lastWasCan_ = false;
                    return Answer::cancelled;
                }
                lastWasCan_ = true;
                continue;
            }
            lastWasCan_ = false;
            if (byte == ACK) return Answer::ack;
            if (byte == NAK) return Answer::nak;
            if (byte == CRC_REQUEST) return Answer::crcRequest;
        }
        if (abortWanted()) return Answer::aborted;
        const TimePoint current = now();
        if (current >= deadline && lastLook) return Answer::timedOut;
        lastLook = current >= deadline;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(deadline - current, TimePoint::duration{}));
        const auto slice = std::min(left, options_.idleInterval);
        const ReadResult got = channel_.read(std::span(input_), static_cast<int>(slice.count()));
        if (got.status == ReadStatus::error) return Answer::lineError;
        inputBegin_ = 0;
        inputEnd_ = got.status == ReadStatus::data ? got.count : 0;
    }
}

// Called after the first request: requests already queued behind it are older than anything
// the receiver will send next, and the last of them is the receiver's current wish.
void XmodemSender::takeQueuedRequests() {
    std::array<std::uint8_t, 256> queued{};
    for (;;) {
        for (; inputBegin_ < inputEnd_; ++inputBegin_) {
            const std::uint8_t byte = input_[inputBegin_];
            if (byte == CRC_REQUEST) progress_.mode = XmodemMode::crc16;
            if (byte == NAK) progress_.mode = XmodemMode::checksum;
        }
        const ReadResult got = channel_.read(queued, 0);
        if (got.status != ReadStatus::data) break;
        std::copy_n(queued.begin(), got.count, input_);
        inputBegin_ = 0;
        inputEnd_ = got.count;
    }
    inputBegin_ = inputEnd_ = 0;
}

void XmodemSender::buildFrame(std::span<const std::uint8_t> image, std::size_t index) {
    const std::size_t offset = index * kBlockDataSize;
    const std::size_t count = std::min(kBlockDataSize, image.size() - offset);
    const auto number = static_cast<std::uint8_t>((index + 1) & 0xFF);
    frame_[0] = SOH;
    frame_[1] = number;
    frame_[2] = static_cast<std::uint8_t>(~number);
    std::uint8_t* data = frame_ + 3;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), count, data);
    std::fill(data + count, data + kBlockDataSize, options_.padCharacter);
    const std::span<const std::uint8_t> payload(data, kBlockDataSize);
    if (progress_.mode == XmodemMode::crc16) {
        const std::uint16_t crc = xmodemCrc16(payload);
        data[kBlockDataSize] = static_cast<std::uint8_t>(crc >> 8);
        data[kBlockDataSize + 1] = static_cast<std::uint8_t>(crc & 0xFF);
        frameSize_ = kCrcFrameSize;
    } else {
        data[kBlockDataSize] = xmodemChecksum(payload);
        frameSize_ = kChecksumFrameSize;
    }
}

XmodemResult XmodemSender::finish(XmodemOutcome outcome, std::string detail) {
    progress_.phase = XmodemPhase::finished;
    report();
    return XmodemResult{outcome, progress_, std::move(detail)};
}

XmodemResult XmodemSender::finishOn(Answer answer, const char* during) {
    std::string where = std::string(" ") + during;
    switch (answer) {
    case Answer::cancelled: return finish(XmodemOutcome::cancelled, "the receiver cancelled" + where);
    case Answer::aborted:
        if (options_.cancelOnAbort) {
            static constexpr std::uint8_t cancel[] = {CAN, CAN};
            (void)writeBytes(cancel);
        }
        return finish(XmodemOutcome::aborted, "aborted" + where);
    case Answer::lineError: return finish(XmodemOutcome::lineError, "the line failed" + where);
    default: return finish(XmodemOutcome::timedOut, "no answer" + where);
    }
}

XmodemResult XmodemSender::send(std::span<const std::uint8_t> image) {
    progress_ = XmodemProgress{};
    progress_.bytesTotal = image.size();
    progress_.blocksTotal = (image.size() + kBlockDataSize - 1) / kBlockDataSize;
    inputBegin_ = inputEnd_ = 0;
    lastWasCan_ = false;
    // Requests repeated by the receiver can cross block 1, so the line starts out of step.
    inStep_ = false;
    report();

    if (Step ended = waitForStart()) return std::move(*ended);
    for (std::size_t index = 0; index < progress_.blocksTotal; ++index) {
        if (Step ended = sendBlock(image, index)) return std::move(*ended);
    }
    return endTransmission();
}

// The receiver's first request chooses the block check.
XmodemSender::Step XmodemSender::waitForStart() {
    const TimePoint deadline = now() + options_.startTimeout;
    for (;;) {
        const Answer answer = await(deadline);
        if (answer == Answer::crcRequest || answer == Answer::nak) {
            progress_.mode = answer == Answer::crcRequest ? XmodemMode::crc16 : XmodemMode::checksum;
            break;
        }
        if (answer == Answer::timedOut) return finish(XmodemOutcome::timedOut, "the receiver never asked for the file");
        if (answer != Answer::ack) return finishOn(answer, "before the first block");
    }
    takeQueuedRequests();
    progress_.phase = XmodemPhase::sendingBlocks;
    report();
    return std::nullopt;
}

// Sends the block until the receiver acknowledges it, then collects the answers still due.
XmodemSender::Step XmodemSender::sendBlock(std::span<const std::uint8_t> image, std::size_t index) {
    buildFrame(image, index);
    BlockTally tally;
    for (;;) {
        dropInput();
        if (!writeBytes(std::span(frame_, frameSize_)))
            return finish(XmodemOutcome::lineError, "the line failed while sending a block");
        ++tally.copies;
        tally.lastCopySent = now();
        const Answer answer = awaitBlockAnswer(image, index, tally);
        if (answer == Answer::ack) break;
        if (answer != Answer::nak && answer != Answer::crcRequest && answer != Answer::timedOut)
            return finishOn(answer, "while sending a block");
        if (tally.errors >= options_.maxErrors) {
            if (tally.timeouts == tally.errors)
                return finish(XmodemOutcome::timedOut, "the receiver stopped answering");
            return finish(XmodemOutcome::tooManyErrors, "too many errors on one block");
        }
        ++progress_.retries;
        report();
    }
    if (Step ended = settle(tally)) return ended;

    ++progress_.blocksAcked;
    progress_.bytesAcked = std::min<std::uint64_t>(progress_.blocksAcked * kBlockDataSize, image.size());
    report();
    return std::nullopt;
}

// The answer to the copy just sent: ACK; NAK, a new request or none in time (send it again,
// counted in the tally); or what ends the transfer. A stale 'C' is passed over.
XmodemSender::Answer XmodemSender::awaitBlockAnswer(std::span<const std::uint8_t> image, std::size_t index,
                                                    BlockTally& tally) {
    const TimePoint deadline = tally.lastCopySent + options_.packetTimeout;
    for (;;) {
        const Answer answer = await(deadline);
        switch (answer) {
        case Answer::ack: ++tally.answered; return answer;
        case Answer::crcRequest:
            // Only a receiver still waiting for block 1 asks again.
            if (index != 0 || progress_.blocksAcked != 0) continue;
            if (progress_.mode != XmodemMode::crc16) {
                progress_.mode = XmodemMode::crc16;
                buildFrame(image, index);
            }
            ++tally.errors;
            inStep_ = false;
            return answer;
        case Answer::nak:
            if (inStep_) ++tally.answered;
            ++tally.errors;
            return answer;
        case Answer::timedOut:
            ++tally.errors;
            ++tally.timeouts;
            inStep_ = false;
            return answer;
        default: return answer;
        }
    }
}

// Copies still unanswered may yet bring an ACK of their own; collect those answers so that
// none is taken for the next block.
XmodemSender::Step XmodemSender::settle(const BlockTally& tally) {
    int unanswered = tally.copies - tally.answered;
    const TimePoint deadline = tally.lastCopySent + options_.packetTimeout;
    while (unanswered > 0) {
        const Answer answer = await(deadline);
        if (answer == Answer::ack) {
            --unanswered;
        } else if (answer == Answer::timedOut) {
            break;
        } else if (answer != Answer::nak && answer != Answer::crcRequest) {
            return finishOn(answer, "while sending a block");
        }
    }
    inStep_ = unanswered <= 0;
    return std::nullopt;
}

// End of transmission: EOT until the receiver acknowledges it.
XmodemResult XmodemSender::endTransmission() {
    progress_.phase = XmodemPhase::endingTransfer;
    report();
    int timeouts = 0;
    for (int attempt = 1;; ++attempt) {
        dropInput();
        static constexpr std::uint8_t eot[] = {EOT};
        if (!writeBytes(eot)) return finish(XmodemOutcome::lineError, "the line failed while ending");
        const TimePoint deadline = now() + options_.eotTimeout;
        Answer answer = Answer::crcRequest;
        while (answer == Answer::crcRequest) answer = await(deadline);
        if (answer == Answer::ack) return finish(XmodemOutcome::complete, "complete");
        if (answer == Answer::timedOut)
            ++timeouts;
        else if (answer != Answer::nak)
            return finishOn(answer, "while ending");
        if (attempt >= options_.eotAttempts) {
            if (timeouts == attempt) return finish(XmodemOutcome::timedOut, "the receiver did not acknowledge the end");
            return finish(XmodemOutcome::tooManyErrors, "the receiver refused the end of transmission");
        }
        ++progress_.retries;
        report();
    }
}

} // namespace qz
