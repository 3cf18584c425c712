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

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
    return buffer;
}

// The longest wait for "%" the sequence has: a station's wait for the next controller starts
// again after it, without a word.
constexpr std::uint8_t kStationWaitLimit = 254;

std::string successMessage(const XmodemProgress& done, double seconds) {
    return std::string(kSuccessMessage) + ": " + std::to_string(done.bytesAcked) + " bytes, " +
           std::to_string(done.blocksAcked) + " blocks (" + (done.mode == XmodemMode::crc16 ? "CRC-16" : "checksum") +
           "), " + std::to_string(done.retries) + " retries, " + secondsText(seconds);
}

// Where the upload was when Ctrl-C ended it; `phase` empty: the port never opened.
std::string interruptedMessage(std::optional<UploadPhase> phase, TransferStatus transfer) {
    if (!phase) return "interrupted before the port was opened";
    switch (*phase) {
    case UploadPhase::Waking: return "interrupted while waking the controller; port closed";
    case UploadPhase::Listening: return "interrupted while waiting for the bootloader; port closed";
    case UploadPhase::StartReceived:
    case UploadPhase::Sending:
    case UploadPhase::Idle: break;
    }
    if (transfer == TransferStatus::aborted)
        return "interrupted during the transfer; cancel sent to the controller, port closed";
    if (transfer == TransferStatus::complete)
        return "interrupted as the transfer ended; not counted as a success, port closed";
    return "interrupted before the transfer began; port closed";
}

} // namespace

struct PortUpload::Trace {
    std::optional<UploadPhase> phase; // the last one entered before the finish; empty: not opened
    std::optional<std::chrono::steady_clock::time_point> startCharacterAt;
    std::string message; // the sequence's last message
};

PortUpload::PortUpload(const CliOptions& options, Platform& platform, PortName name, std::uint64_t bytesTotal)
    : options_(options), name_(std::move(name)), bytesTotal_(bytesTotal),
      blocksTotal_(static_cast<std::size_t>((bytesTotal + xmodem::kBlockDataSize - 1) / xmodem::kBlockDataSize)),
      device_(platform.makeSerialPort()), port_(*device_) {}

PortAttempt PortUpload::run(const PortSinks& sinks) {
    ConsoleOutput output(sinks.human, sinks.errors, sinks.terminal, sinks.quiet, {}, sinks.redraw);
    SerialTransferControl control(port_, win32ComDeviceName);
    control.setDevicePath(name_.device);
    control.setPacketTimeout(options_.packetTimeoutSeconds);
    control.setProgressHook([&output](const TransferReport& progress) { output.transfer(progress); });
    control.setIdleHook([] { return interruptRaised() ? IdleAction::abort : IdleAction::proceed; });
    InterruptibleControl guarded(control, interruptFlag());

    UpdaterState state = initialState();
    Trace trace;
    ConsoleUploadHost host(state, interruptFlag());
    host.waitForInput = [this](std::chrono::milliseconds limit) { port_.waitForInput(limit); };
    host.lineLost = [this] { return port_.lost(); };
    host.onPhase = [&](UploadPhase phase) { follow(phase, trace, output); };
    host.onMessage = [&trace](std::string_view text, std::string_view) { trace.message = text; };
    UploadSequence sequence(guarded, host, state, sequenceOptions());

    const auto started = std::chrono::steady_clock::now();
    const UploadResult result = sequence.run();
    // A station's board counts from its "%": the wait for it is the station's, not the board's.
    const auto from = options_.loop && trace.startCharacterAt ? *trace.startCharacterAt : started;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    return conclude(result, control, output, trace, seconds);
}

UpdaterState PortUpload::initialState() const {
    UpdaterState state;
    state.ComPort = name_.comPort;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(std::filesystem::path(options_.firmware), ec);
    state.FileToUpLoad = ec ? options_.firmware : absolute.string();
    return state;
}

UploadOptions PortUpload::sequenceOptions() const {
    UploadOptions sequence;
    sequence.timeoutLimit = options_.loop ? kStationWaitLimit : options_.timeoutSeconds;
    sequence.wake = options_.wake;
    // A controller already in its bootloader needs no time to start it: listen at once.
    if (!options_.wake) sequence.listenPauseMs = 0;
    sequence.applicationTitle = std::string(kProgramName);
    return sequence;
}

void PortUpload::follow(UploadPhase phase, Trace& trace, ConsoleOutput& output) const {
    switch (phase) {
    case UploadPhase::Waking:
        output.line("Waking the controller on " + name_.label + " (9600, 57600, 19200 baud)");
        break;
    case UploadPhase::Listening:
        output.line(options_.loop ? std::string("Waiting for a controller")
                                  : "Waiting for the bootloader on " + name_.label + " (time-out " +
                                        std::to_string(options_.timeoutSeconds) + " s)");
        break;
    case UploadPhase::StartReceived:
        trace.startCharacterAt = std::chrono::steady_clock::now();
        output.line("Start character received");
        break;
    case UploadPhase::Sending:
        output.line("Sending " + options_.firmware + " (" + std::to_string(bytesTotal_) + " bytes, " +
                    std::to_string(blocksTotal_) + " blocks) with XMODEM");
        break;
    case UploadPhase::Idle: return; // the finish: the run stays where it had got to
    }
    trace.phase = phase;
}

PortAttempt PortUpload::conclude(const UploadResult& result, const SerialTransferControl& control,
                                 const ConsoleOutput& output, const Trace& trace, double seconds) {
    PortAttempt attempt;
    attempt.started = trace.startCharacterAt.has_value();
    RunReport& report = attempt.report;
    report.port = name_.label;
    report.firmware = options_.firmware;
    report.bytesTotal = bytesTotal_;
    report.blocksTotal = blocksTotal_;
    report.seconds = seconds;
    report.transfer = output.lastProgress();
    report.transferSeconds = output.transferSeconds();
    report.transferStatus = result.transferStatus;

    const bool interrupted = interruptRaised();
    // The wait ended because the line went: no board, and not a Ctrl-C.
    attempt.lineLost = result.outcome == UploadOutcome::Cancelled && !interrupted && port_.lost();
    report.outcome = attempt.lineLost ? Outcome::portFailed : outcomeOf(result, interrupted);
    const TransferReport& transfer = control.lastTransfer();
    std::string& message = report.message;
    switch (report.outcome) {
    case Outcome::success: message = successMessage(transfer.progress, seconds); break;
    case Outcome::portFailed:
        if (attempt.lineLost)
            message = port_.lastReadError().message() + " (the port went away while waiting)";
        else
            message = control.lastError().empty() ? portFailureMessage(name_.comPort) : control.lastError();
        break;
    case Outcome::timedOut:
        message = (trace.message.empty() ? std::string(kTimeoutMessage) : trace.message) +
                  " (no start character \"%\" on " + name_.label + " within " +
                  std::to_string(sequenceOptions().timeoutLimit) + " s)";
        break;
    case Outcome::firmwareUnreadable: message = "cannot read firmware: " + transfer.detail; break;
    case Outcome::transferFailed:
        message = result.transferStatus
                      ? "transfer failed: " + std::string(transferStatusText(*result.transferStatus)) + " (" +
                            transfer.detail + ")"
                      : "transfer failed: " + control.lastError();
        break;
    case Outcome::interrupted: message = interruptedMessage(trace.phase, transfer.status); break;
    default:
        report.outcome = Outcome::internalError;
        message = "internal error: unexpected upload result";
        break;
    }
    return attempt;
}

} // namespace qz::cli
