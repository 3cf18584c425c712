#include "updater/core/upload_sequence.h"

namespace qz {

namespace {
// Every step runs the line with 8 data bits, no parity and 1 stop bit.
constexpr LineSettings line8N1(std::uint32_t baud) { return {baud, Parity::none, 8, StopBits::one}; }
constexpr LineSettings kOpenLine = line8N1(19200);
constexpr LineSettings kWakeLine1 = line8N1(9600);
constexpr LineSettings kListenLine = line8N1(57600);
constexpr LineSettings kWakeLine3 = line8N1(19200);
constexpr std::uint32_t kShortPauseMs = 100;
} // namespace

void tickSerialTimer(UpdaterState& state) {
    if (state.SerialTimer < 255) ++state.SerialTimer;
}

std::string portFailureMessage(std::int16_t comPort) {
    return "COM " + std::to_string(comPort) +
           " is in use by another program or doesn't exist on your computer. Please check and try again";
}

UploadSequence::UploadSequence(TransferControl& control, UploadHost& host, UpdaterState& state, UploadOptions options)
    : control_(control), host_(host), state_(state), options_(std::move(options)) {}

bool UploadSequence::OpenSerialPort() {
    // Each member in turn; the first one the control refuses stops the opening.
    const auto opened = [this] {
        const auto isOpen = control_.portOpen();
        if (!isOpen) return false;
        if (*isOpen) return true; // already open: keeps its settings
        return control_.setCommPort(state_.ComPort) && control_.setSettings(kOpenLine) && control_.setInputLength(0) &&
               control_.setHandshaking(0) && control_.setInputBufferSize(1024) && control_.setOutputBufferSize(1024) &&
               control_.setInputMode(0) && control_.setPortOpen(true) && control_.setEnableCancel(true);
    }();
    if (opened) return true;

    host_.showMessage(portFailureMessage(state_.ComPort), options_.applicationTitle);
    state_.PortError = true;
    host_.setInputEnabled(ControlId::UpLoad, true);
    host_.setInputEnabled(ControlId::FileText, true);
    host_.setInputEnabled(ControlId::Browse, true);
    host_.setInputEnabled(ControlId::Label1, true);
    host_.setInputEnabled(ControlId::ComPortSet, true);
    host_.showStatus(kStatusIdle);
    host_.setTimerEnabled(false);
    return false;
}

// Close, line settings, open: the start of every pass and of the listen.
void UploadSequence::reopen(const LineSettings& line) {
    control_.setPortOpen(false);
    control_.setHandshaking(0);
    control_.setSettings(line);
    control_.setPortOpen(true);
}

void UploadSequence::wakePass(const LineSettings& line, bool pauseFirst, bool pauseLast) {
    reopen(line);
    if (pauseFirst) host_.sleep(kShortPauseMs);
    control_.output("\r");
    host_.sleep(kShortPauseMs);
    state_.SerialTimer = 0;
    control_.output(kWakeCommand);
    if (pauseLast) host_.sleep(kShortPauseMs);
}

UploadResult UploadSequence::run() {
    state_.SerialTimer = 0;
    host_.setTimerEnabled(true);
    host_.setInputEnabled(ControlId::FileText, false);
    host_.setInputEnabled(ControlId::Browse, false);
    host_.setInputEnabled(ControlId::Label1, false);
    host_.setInputEnabled(ControlId::ComPortSet, false);
    host_.setInputEnabled(ControlId::UpLoad, false);
    control_.setPortOpen(false);

    if (!OpenSerialPort()) return {UploadOutcome::PortFailed, std::nullopt};
    if (state_.FileToUpLoad.empty()) return finish({UploadOutcome::NoFile, std::nullopt});

    if (options_.wake) {
        wakePass(kWakeLine1, true, false);
        wakePass(kListenLine, false, false);
        wakePass(kWakeLine3, false, true);
    }

    reopen(kListenLine);
    std::string received;
    host_.showStatus(kStatusWaiting);
    host_.sleep(options_.listenPauseMs);

    for (;;) {
        host_.pumpMessages();
        if (host_.cancelRequested()) return finish({UploadOutcome::Cancelled, std::nullopt});
        // Each read replaces the received text; a failed read leaves it as it was.
        if (auto text = control_.input()) received = std::move(*text);
        // The time-out is tested before the start character: in the same poll it wins.
        if (state_.SerialTimer > options_.timeoutLimit) {
            host_.showMessage(kTimeoutMessage, options_.applicationTitle);
            state_.SerialTimer = 0;
            host_.setTimerEnabled(false);
            return finish({UploadOutcome::TimedOut, std::nullopt});
        }
        if (!received.empty() && received.front() == '%') {
            host_.showStatus(kStatusStartReceived);
            control_.output("{");
            received.clear();
            break;
        }
    }

    host_.showStatus(kStatusUploadStarted);
    state_.SerialTimer = 0;
    received.clear();
    control_.setSettings(kListenLine);
    control_.setPortOpen(true);
    control_.setSendFileName(state_.FileToUpLoad);
    control_.sendFile();
    host_.setTimerEnabled(false);
    state_.SerialTimer = 0;

    const auto status = control_.transferStatus();
    if (status && *status == TransferStatus::complete) {
        control_.setPortOpen(false);
        host_.showMessage(kSuccessMessage, kSuccessTitle);
        return finish({UploadOutcome::Success, status});
    }
    return finish({UploadOutcome::TransferFailed, status});
}

// Back to idle: every way out but a failed opening ends here.
UploadResult UploadSequence::finish(UploadResult result) {
    host_.setInputEnabled(ControlId::UpLoad, true);
    host_.setInputEnabled(ControlId::FileText, true);
    host_.setInputEnabled(ControlId::Browse, true);
    host_.setInputEnabled(ControlId::Label1, true);
    host_.setInputEnabled(ControlId::ComPortSet, true);
    if (const auto open = control_.portOpen(); open && *open) control_.setPortOpen(false);
    host_.setTimerEnabled(false);
    host_.showStatus(kStatusIdle);
    return result;
}

} // namespace qz
