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

std::string_view statusText(UploadPhase phase) {
    switch (phase) {
    case UploadPhase::Waking: break;
    case UploadPhase::Listening: return "Status: Waiting for Bootloader Start Character";
    case UploadPhase::StartReceived: return "Status: Start Character Received. Uploading Firmware....";
    case UploadPhase::Sending: return "Status: Upload Sequence Started";
    case UploadPhase::Idle: return "Status: Idle";
    }
    return {};
}

std::string portFailureMessage(std::int16_t comPort) {
    return "COM " + std::to_string(comPort) +
           " is in use by another program or doesn't exist on your computer. Please check and try again";
}

UploadSequence::UploadSequence(TransferControl& control, UploadHost& host, UpdaterState& state, UploadOptions options)
    : control_(control), host_(host), state_(state), options_(std::move(options)) {}

UploadResult UploadSequence::run() {
    begin();
    if (!OpenSerialPort()) return {UploadOutcome::PortFailed, std::nullopt};
    if (state_.FileToUpLoad.empty()) return finish({UploadOutcome::NoFile, std::nullopt});
    if (options_.wake) wake();
    if (const auto ended = awaitStartCharacter()) return finish({*ended, std::nullopt});
    return finish(sendFirmware());
}

void UploadSequence::begin() {
    state_.SerialTimer = 0;
    host_.setTimerEnabled(true);
    setInputsEnabled(false);
    control_.setPortOpen(false);
}

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
    setInputsEnabled(true);
    enter(UploadPhase::Idle);
    host_.setTimerEnabled(false);
    return false;
}

void UploadSequence::wake() {
    enter(UploadPhase::Waking);
    wakePass(kWakeLine1, true, false);
    wakePass(kListenLine, false, false);
    wakePass(kWakeLine3, false, true);
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

std::optional<UploadOutcome> UploadSequence::awaitStartCharacter() {
    reopen(kListenLine);
    enter(UploadPhase::Listening);
    host_.sleep(options_.listenPauseMs);
    std::string received;
    for (;;) {
        host_.pumpMessages();
        if (host_.cancelRequested()) return UploadOutcome::Cancelled;
        // Each read replaces the received text; a failed read leaves it as it was.
        if (auto text = control_.input()) received = std::move(*text);
        // The time-out is tested before the start character: in the same poll it wins.
        if (state_.SerialTimer > options_.timeoutLimit) {
            host_.showMessage(kTimeoutMessage, options_.applicationTitle);
            state_.SerialTimer = 0;
            host_.setTimerEnabled(false);
            return UploadOutcome::TimedOut;
        }
        if (!received.empty() && received.front() == '%') {
            enter(UploadPhase::StartReceived);
            control_.output("{");
            return std::nullopt;
        }
    }
}

UploadResult UploadSequence::sendFirmware() {
    enter(UploadPhase::Sending);
    state_.SerialTimer = 0;
    control_.setSettings(kListenLine);
    control_.setPortOpen(true);
    control_.setSendFileName(state_.FileToUpLoad);
    control_.sendFile();
    host_.setTimerEnabled(false);
    state_.SerialTimer = 0;

    const auto status = control_.transferStatus();
    if (status != TransferStatus::complete) return {UploadOutcome::TransferFailed, status};
    control_.setPortOpen(false);
    host_.showMessage(kSuccessMessage, kSuccessTitle);
    return {UploadOutcome::Success, status};
}

// Back to idle: every way out but a failed opening ends here.
UploadResult UploadSequence::finish(UploadResult result) {
    setInputsEnabled(true);
    if (const auto open = control_.portOpen(); open && *open) control_.setPortOpen(false);
    host_.setTimerEnabled(false);
    enter(UploadPhase::Idle);
    return result;
}

void UploadSequence::enter(UploadPhase phase) {
    host_.phaseEntered(phase);
    if (const auto text = statusText(phase); !text.empty()) host_.showStatus(text);
}

// Disabled with UpLoad last and enabled with UpLoad first, as the window's handlers have
// always done it.
void UploadSequence::setInputsEnabled(bool enabled) {
    if (enabled) host_.setInputEnabled(ControlId::UpLoad, true);
    for (const ControlId id : {ControlId::FileText, ControlId::Browse, ControlId::Label1, ControlId::ComPortSet})
        host_.setInputEnabled(id, enabled);
    if (!enabled) host_.setInputEnabled(ControlId::UpLoad, false);
}

} // namespace qz
