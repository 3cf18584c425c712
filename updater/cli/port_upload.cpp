#include "updater/cli/port_upload.h"

#include "updater/cli/console_host.h"
#include "updater/cli/interrupt.h"
#include "updater/cli/interruptible_control.h"
#include "updater/core/serial_transfer_control.h"
#include "updater/core/upload_sequence.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace qz::cli {

namespace {

enum class Phase { opening, waking, waiting, sending };

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
    return buffer;
}

// The longest wait for "%" the sequence has: a station's wait for the next controller starts
// again after it, without a word.
constexpr std::uint8_t kStationWaitLimit = 254;

} // namespace

PortUpload::PortUpload(const CliOptions& options, Platform& platform, PortName name, std::uint64_t bytesTotal)
    : options_(options), name_(std::move(name)), bytesTotal_(bytesTotal),
      blocksTotal_(static_cast<std::size_t>((bytesTotal + xmodem::kBlockDataSize - 1) / xmodem::kBlockDataSize)),
      device_(platform.makeSerialPort()), port_(*device_) {}

PortAttempt PortUpload::run(const PortSinks& sinks) {
    PortAttempt attempt;
    RunReport& report = attempt.report;
    report.port = name_.label;
    report.firmware = options_.firmware;
    report.bytesTotal = bytesTotal_;
    report.blocksTotal = blocksTotal_;

    ConsoleOutput output(sinks.human, sinks.errors, sinks.terminal, sinks.quiet, {}, sinks.redraw);
    SerialTransferControl control(port_, win32ComDeviceName);
    control.setDevicePath(name_.device);
    control.setPacketTimeout(options_.packetTimeoutSeconds);
    control.setProgressHook([&output](const TransferReport& progress) { output.transfer(progress); });
    control.setIdleHook([] { return interruptRaised() ? IdleAction::abort : IdleAction::proceed; });

    InterruptibleControl guarded(control, interruptFlag());
    UpdaterState state;
    state.ComPort = name_.comPort;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(std::filesystem::path(options_.firmware), ec);
    state.FileToUpLoad = ec ? options_.firmware : absolute.string();

    Phase phase = Phase::opening;
    std::string sequenceMessage;
    std::chrono::steady_clock::time_point startCharacterAt{};
    guarded.onOpened = [&] {
        if (phase != Phase::opening) return;
        phase = options_.wake ? Phase::waking : Phase::waiting;
        if (options_.wake) output.line("Waking the controller on " + name_.label + " (9600, 57600, 19200 baud)");
    };
    ConsoleUploadHost host(state, interruptFlag());
    host.waitForInput = [this](std::chrono::milliseconds limit) { port_.waitForInput(limit); };
    host.lineLost = [this] { return port_.lost(); };
    host.onStatus = [&](std::string_view text) {
        if (text == kStatusWaiting) {
            phase = Phase::waiting;
            output.line(options_.loop ? std::string("Waiting for a controller")
                                      : "Waiting for the bootloader on " + name_.label + " (time-out " +
                                            std::to_string(options_.timeoutSeconds) + " s)");
        } else if (text == kStatusStartReceived) {
            phase = Phase::sending;
            attempt.started = true;
            startCharacterAt = std::chrono::steady_clock::now();
            output.line("Start character received");
        } else if (text == kStatusUploadStarted) {
            output.line("Sending " + options_.firmware + " (" + std::to_string(bytesTotal_) + " bytes, " +
                        std::to_string(blocksTotal_) + " blocks) with XMODEM");
        }
    };
    host.onMessage = [&](std::string_view text, std::string_view) { sequenceMessage = text; };

    UploadOptions uploadOptions;
    uploadOptions.timeoutLimit = options_.loop ? kStationWaitLimit : options_.timeoutSeconds;
    uploadOptions.wake = options_.wake;
    // A controller already in its bootloader needs no time to start it: listen at once.
    if (!options_.wake) uploadOptions.listenPauseMs = 0;
    uploadOptions.applicationTitle = std::string(kProgramName);
    UploadSequence sequence(guarded, host, state, uploadOptions);

    const auto started = std::chrono::steady_clock::now();
    const UploadResult result = sequence.run();
    // A station's board counts from its "%": the wait for it is the station's, not the board's.
    const auto from = options_.loop && attempt.started ? startCharacterAt : started;
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    report.transfer = output.lastProgress();
    report.transferSeconds = output.transferSeconds();
    report.transferStatus = result.transferStatus;

    const bool interrupted = interruptRaised();
    // The wait ended because the line went: no board, and not a Ctrl-C.
    attempt.lineLost = result.outcome == UploadOutcome::Cancelled && !interrupted && port_.lost();
    const Outcome outcome = attempt.lineLost ? Outcome::portFailed : outcomeOf(result, interrupted);
    report.outcome = outcome;
    const TransferReport& transfer = control.lastTransfer();
    std::string& message = report.message;
    switch (outcome) {
    case Outcome::success: {
        const XmodemProgress& done = transfer.progress;
        message = std::string(kSuccessMessage) + ": " + std::to_string(done.bytesAcked) + " bytes, " +
                  std::to_string(done.blocksAcked) + " blocks (" +
                  (done.mode == XmodemMode::crc16 ? "CRC-16" : "checksum") + "), " + std::to_string(done.retries) +
                  " retries, " + secondsText(report.seconds);
        break;
    }
    case Outcome::portFailed: {
        if (attempt.lineLost) {
            message = port_.lastReadError().message() + " (the port went away while waiting)";
            break;
        }
        const std::string why = control.lastError();
        message = why.empty() ? portFailureMessage(name_.comPort) : why;
        break;
    }
    case Outcome::timedOut:
        message = (sequenceMessage.empty() ? std::string(kTimeoutMessage) : sequenceMessage) +
                  " (no start character \"%\" on " + name_.label + " within " +
                  std::to_string(uploadOptions.timeoutLimit) + " s)";
        break;
    case Outcome::firmwareUnreadable: message = "cannot read firmware: " + transfer.detail; break;
    case Outcome::transferFailed:
        message = result.transferStatus
                      ? "transfer failed: " + std::string(transferStatusText(*result.transferStatus)) + " (" +
                            transfer.detail + ")"
                      : "transfer failed: " + control.lastError();
        break;
    case Outcome::interrupted:
        switch (phase) {
        case Phase::opening: message = "interrupted before the port was opened"; break;
        case Phase::waking: message = "interrupted while waking the controller; port closed"; break;
        case Phase::waiting: message = "interrupted while waiting for the bootloader; port closed"; break;
        case Phase::sending:
            if (transfer.status == TransferStatus::aborted)
                message = "interrupted during the transfer; cancel sent to the controller, port closed";
            else if (transfer.status == TransferStatus::complete)
                message = "interrupted as the transfer ended; not counted as a success, port closed";
            else
                message = "interrupted before the transfer began; port closed";
            break;
        }
        break;
    default:
        report.outcome = Outcome::internalError;
        message = "internal error: unexpected upload result";
        break;
    }
    return attempt;
}

} // namespace qz::cli
