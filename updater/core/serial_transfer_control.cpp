#include "updater/core/serial_transfer_control.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace qz {

std::string win32ComDeviceName(int port) { return "\\\\.\\COM" + std::to_string(port); }

std::string_view transferStatusText(TransferStatus status) {
    switch (status) {
    case TransferStatus::notStarted: return "not started";
    case TransferStatus::complete: return "complete";
    case TransferStatus::cancelled: return "cancelled by the receiver";
    case TransferStatus::timedOut: return "timed out";
    case TransferStatus::tooManyErrors: return "too many errors";
    case TransferStatus::fileUnreadable: return "file unreadable";
    case TransferStatus::portNotOpen: return "port not open";
    case TransferStatus::lineError: return "line error";
    case TransferStatus::aborted: return "aborted";
    }
    return "unknown status";
}

// What the XMODEM sender reads: first the bytes received and not yet handed out by Input,
// then the port.
class SerialTransferControl::InputChannel final : public ByteChannel {
public:
    explicit InputChannel(SerialTransferControl& control) : control_(control) {}

    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override {
        std::string& held = control_.received_;
        if (!held.empty()) {
            const std::size_t count = std::min(held.size(), buffer.size());
            std::copy_n(held.begin(), count, buffer.begin());
            held.erase(0, count);
            return {ReadStatus::data, count};
        }
        if (!control_.port_.isOpen()) return {ReadStatus::error, 0};
        return control_.port_.read(buffer, timeoutMs);
    }
    bool write(std::span<const std::uint8_t> bytes) override {
        return control_.port_.isOpen() && control_.port_.write(bytes).ok();
    }
    void discardInput() override {
        control_.received_.clear();
        if (control_.port_.isOpen()) (void)control_.port_.discardInput();
    }

private:
    SerialTransferControl& control_;
};

SerialTransferControl::SerialTransferControl(SerialPort& port, DeviceNamer deviceForPort)
    : port_(port), deviceForPort_(std::move(deviceForPort)) {}

SerialTransferControl::~SerialTransferControl() { closePort(); }

bool SerialTransferControl::fail(std::string message) {
    lastError_ = std::move(message);
    return false;
}

bool SerialTransferControl::requireClosed(std::string_view member) {
    if (!port_.isOpen()) return true;
    return fail(std::string(member) + " cannot change while " + portLabel() + " is open");
}

std::string SerialTransferControl::lastError() const { return lastError_; }

// --- port ---------------------------------------------------------------------------------

bool SerialTransferControl::setCommPort(std::int16_t port) {
    if (port < 1 || port > 255) return fail("CommPort must be 1 to 255, not " + std::to_string(port));
    if (!requireClosed("CommPort")) return false;
    commPort_ = port;
    return true;
}

std::string SerialTransferControl::deviceName() const {
    if (!devicePath_.empty()) return devicePath_;
    return deviceForPort_ ? deviceForPort_(commPort_) : win32ComDeviceName(commPort_);
}

std::string SerialTransferControl::portLabel() const {
    return devicePath_.empty() ? "COM" + std::to_string(commPort_) : devicePath_;
}

std::string SerialTransferControl::portStateText() const {
    if (!port_.isOpen()) return portLabel() + " closed";
    return portLabel() + " open at " + formatLineSettings(line_);
}

bool SerialTransferControl::setSettings(const LineSettings& line) {
    if (std::string error = lineSettingsError(line); !error.empty()) return fail(std::move(error));
    // The open line is re-programmed only when the settings change: re-programming a UART
    // while output is still leaving can garble it.
    if (port_.isOpen() && line != line_) {
        const PortStatus status = port_.reconfigure(line);
        if (!status.ok()) return fail(status.message());
    }
    line_ = line;
    return true;
}

bool SerialTransferControl::setPortOpen(bool open) {
    if (open) {
        if (port_.isOpen()) return true;
        PortOptions options;
        options.handshaking = static_cast<Handshaking>(handshaking_);
        options.inputBufferSize = static_cast<std::size_t>(inputBufferSize_);
        options.outputBufferSize = static_cast<std::size_t>(outputBufferSize_);
        const PortStatus status = port_.open(deviceName(), line_, options);
        if (!status.ok()) return fail(status.message());
        received_.clear();
        transferStatus_ = TransferStatus::notStarted;
        return true;
    }
    if (report_.running && port_.isOpen()) {
        // A window closing during SendFile: tell the receiver while the line is still there.
        abortRequested_.store(true);
        if (enableCancel_) {
            static constexpr std::uint8_t cancel[] = {xmodem::CAN, xmodem::CAN};
            (void)port_.write(cancel);
        }
    }
    closePort();
    return true;
}

void SerialTransferControl::closePort() {
    port_.close();
    received_.clear();
}

std::optional<bool> SerialTransferControl::portOpen() const { return port_.isOpen(); }

bool SerialTransferControl::setHandshaking(std::int32_t value) {
    if (value < 0 || value > 3) return fail("Handshaking must be 0 to 3, not " + std::to_string(value));
    if (port_.isOpen()) {
        const PortStatus status = port_.setHandshaking(static_cast<Handshaking>(value));
        if (!status.ok()) return fail(status.message());
    }
    handshaking_ = value;
    return true;
}

bool SerialTransferControl::setInputBufferSize(std::int16_t value) {
    if (value < 1) return fail("InputBufferSize must be at least 1");
    if (!requireClosed("InputBufferSize")) return false;
    inputBufferSize_ = value;
    return true;
}

bool SerialTransferControl::setOutputBufferSize(std::int16_t value) {
    if (value < 1) return fail("OutputBufferSize must be at least 1");
    if (!requireClosed("OutputBufferSize")) return false;
    outputBufferSize_ = value;
    return true;
}

// --- text in and out ----------------------------------------------------------------------

bool SerialTransferControl::output(std::string_view text) {
    if (!port_.isOpen()) return fail("Output: " + portLabel() + " is not open");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const PortStatus status = port_.write(std::span(bytes, text.size()));
    if (!status.ok()) return fail(status.message());
    return true;
}

// Moves what the port has now into the received text, without waiting.
void SerialTransferControl::pullInput() {
    std::uint8_t chunk[512];
    // Bounded, so that a line that never stops talking cannot hold the caller here.
    for (int round = 0; round < 64; ++round) {
        const ReadResult got = port_.read(chunk, 0);
        if (got.status != ReadStatus::data) {
            if (got.status == ReadStatus::error) lastError_ = port_.lastReadError().message();
            return;
        }
        for (std::size_t i = 0; i < got.count; ++i) {
            if (nullDiscard_ && chunk[i] == 0) continue;
            received_.push_back(static_cast<char>(chunk[i]));
        }
    }
}

std::optional<std::string> SerialTransferControl::input() {
    if (!port_.isOpen()) {
        fail("Input: " + portLabel() + " is not open");
        return std::nullopt;
    }
    pullInput();
    const std::size_t count =
        inputLength_ > 0 ? std::min(received_.size(), static_cast<std::size_t>(inputLength_)) : received_.size();
    std::string text = received_.substr(0, count);
    received_.erase(0, count);
    return text;
}

bool SerialTransferControl::setInputLength(std::int16_t value) {
    if (value < 0) return fail("InputLength must not be negative");
    inputLength_ = value;
    return true;
}

bool SerialTransferControl::setInputMode(std::int32_t value) {
    if (value != 0 && value != 1) return fail("InputMode must be 0 (text) or 1 (binary)");
    inputMode_ = value;
    return true;
}

bool SerialTransferControl::setNullDiscard(bool value) {
    nullDiscard_ = value;
    return true;
}

bool SerialTransferControl::setEnableCancel(bool value) {
    enableCancel_ = value;
    return true;
}

// --- file transfer ------------------------------------------------------------------------

bool SerialTransferControl::setPacketTimeout(float seconds) {
    if (!(seconds >= 0.1f && seconds <= 60.0f)) return fail("PacketTimeout must be 0.1 to 60 seconds");
    packetTimeout_ = seconds;
    return true;
}

bool SerialTransferControl::setStartTimeout(float seconds) {
    if (!(seconds >= 1.0f && seconds <= 600.0f)) return fail("the start time-out must be 1 to 600 seconds");
    startTimeout_ = seconds;
    return true;
}

bool SerialTransferControl::setPadCharacter(std::int16_t value) {
    if (value < 0 || value > 255) return fail("PadCharacter must be 0 to 255");
    padCharacter_ = value;
    return true;
}

bool SerialTransferControl::setMaxErrors(std::int16_t value) {
    if (value < 1 || value > 100) return fail("MaxErrors must be 1 to 100");
    maxErrors_ = value;
    return true;
}

bool SerialTransferControl::setSendFileName(std::string_view path) {
    sendFileName_ = std::string(path);
    return true;
}

std::optional<TransferStatus> SerialTransferControl::transferStatus() const { return transferStatus_; }

XmodemOptions SerialTransferControl::xmodemOptions() const {
    const auto milliseconds = [](float seconds) {
        return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0f + 0.5f));
    };
    XmodemOptions options; // the wait for the answer to the EOT stays the sender's 3 s
    options.packetTimeout = milliseconds(packetTimeout_);
    options.startTimeout = milliseconds(startTimeout_);
    options.maxErrors = maxErrors_;
    options.eotAttempts = maxErrors_;
    options.padCharacter = static_cast<std::uint8_t>(padCharacter_);
    options.honourCancel = enableCancel_;
    options.cancelOnAbort = enableCancel_;
    return options;
}

namespace {

TransferStatus statusOf(XmodemOutcome outcome) {
    switch (outcome) {
    case XmodemOutcome::complete: return TransferStatus::complete;
    case XmodemOutcome::cancelled: return TransferStatus::cancelled;
    case XmodemOutcome::timedOut: return TransferStatus::timedOut;
    case XmodemOutcome::tooManyErrors: return TransferStatus::tooManyErrors;
    case XmodemOutcome::lineError: return TransferStatus::lineError;
    case XmodemOutcome::aborted: break;
    }
    return TransferStatus::aborted;
}

// Reads the whole file, or says why not.
std::optional<std::vector<std::uint8_t>> readImage(const std::string& path, std::uintmax_t limit, std::string& why) {
    if (path.empty()) {
        why = "no file name given";
        return std::nullopt;
    }
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, ec)) {
        why = path + " is not a readable file";
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size > limit) {
        why = path + (ec ? " has no size" : " is too large to send");
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        why = path + " could not be read";
        return std::nullopt;
    }
    return bytes;
}

} // namespace

bool SerialTransferControl::sendFile() {
    if (report_.running) return fail("SendFile: a transfer is already running");
    report_ = TransferReport{};
    report_.fileName = sendFileName_;
    if (!port_.isOpen()) {
        transferStatus_ = report_.status = TransferStatus::portNotOpen;
        report_.detail = "SendFile: " + portLabel() + " is not open";
        return fail(report_.detail);
    }
    std::string why;
    const auto image = readImage(sendFileName_, kMaxImageSize, why);
    if (!image) {
        transferStatus_ = report_.status = TransferStatus::fileUnreadable;
        report_.detail = "SendFile: " + why;
        return fail(report_.detail);
    }

    abortRequested_.store(false);
    report_.running = true;
    XmodemHooks hooks;
    hooks.progress = [this](const XmodemProgress& progress) {
        report_.progress = progress;
        if (progressHook_) progressHook_(report_);
    };
    hooks.idle = [this] { return idleHook_ ? idleHook_() : IdleAction::proceed; };
    hooks.abortRequested = &abortRequested_;

    InputChannel channel(*this);
    // Once the port is closed under it, the sender's own CAN finds no line and is not sent twice.
    XmodemSender sender(channel, xmodemOptions(), std::move(hooks));
    const XmodemResult result = sender.send(*image);

    report_.running = false;
    report_.progress = result.progress;
    report_.status = transferStatus_ = statusOf(result.outcome);
    report_.detail = result.detail;
    if (progressHook_) progressHook_(report_);
    if (result.outcome != XmodemOutcome::complete) return fail("SendFile: " + result.detail);
    return true;
}

} // namespace qz
