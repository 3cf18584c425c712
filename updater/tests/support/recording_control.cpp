#include "updater/tests/support/recording_control.h"

namespace qz::test {

bool RecordingControl::call(const std::string& member, const std::string& entry) const {
    log_.add(entry);
    // A pending failure of this exact call, else of the member; -1 never runs out.
    const auto take = [](std::map<std::string, int>& failures, const std::string& name) {
        auto it = failures.find(name);
        if (it == failures.end() || it->second == 0) return false;
        if (it->second > 0) --it->second;
        return true;
    };
    if (take(callFailures_, entry) || take(failures_, member)) {
        lastError_ = member + " failed";
        return false;
    }
    return true;
}

bool RecordingControl::setCommPort(std::int16_t port) {
    if (!call("CommPort", "CommPort=" + std::to_string(port))) return false;
    port_ = port;
    return true;
}

std::optional<std::int16_t> RecordingControl::commPort() const {
    if (!call("CommPort", "CommPort?")) return std::nullopt;
    return port_;
}

bool RecordingControl::setSettings(const LineSettings& line) {
    if (!call("Settings", "Settings=" + formatLineSettings(line))) return false;
    settings_ = line;
    return true;
}

std::optional<LineSettings> RecordingControl::settings() const {
    if (!call("Settings", "Settings?")) return std::nullopt;
    return settings_;
}

bool RecordingControl::setPortOpen(bool open) {
    if (!call("PortOpen", open ? "PortOpen=1" : "PortOpen=0")) return false;
    if (open && !open_) status_ = TransferStatus::notStarted;
    open_ = open;
    return true;
}

std::optional<bool> RecordingControl::portOpen() const {
    if (!call("PortOpen", "PortOpen?")) return std::nullopt;
    return open_;
}

bool RecordingControl::output(std::string_view text) {
    if (!call("Output", "Output=" + visible(text))) return false;
    if (!open_) {
        lastError_ = "port closed";
        return false;
    }
    return true;
}

std::optional<std::string> RecordingControl::input() {
    if (!call("Input", "Input?") || !open_) return std::nullopt;
    if (inputSource) return inputSource();
    if (inputs_.empty()) return std::string();
    std::string text = std::move(inputs_.front());
    inputs_.pop_front();
    return text;
}

bool RecordingControl::setSendFileName(std::string_view path) {
    if (!call("SendFileName", "SendFileName=" + std::string(path))) return false;
    sendFileName_ = std::string(path);
    return true;
}

std::optional<std::string> RecordingControl::sendFileName() const {
    if (!call("SendFileName", "SendFileName?")) return std::nullopt;
    return sendFileName_;
}

bool RecordingControl::sendFile() {
    if (!call("SendFile", "SendFile")) return false;
    if (onSendFile) onSendFile();
    status_ = open_ ? statusAfterSend : TransferStatus::portNotOpen;
    return status_ == TransferStatus::complete;
}

std::optional<TransferStatus> RecordingControl::transferStatus() const {
    if (!call("TransferStatus", "TransferStatus?")) return std::nullopt;
    return status_;
}

bool RecordingControl::setInputLength(std::int16_t value) {
    return call("InputLength", "InputLength=" + std::to_string(value));
}
bool RecordingControl::setHandshaking(std::int32_t value) {
    return call("Handshaking", "Handshaking=" + std::to_string(value));
}
bool RecordingControl::setInputBufferSize(std::int16_t value) {
    return call("InputBufferSize", "InputBufferSize=" + std::to_string(value));
}
bool RecordingControl::setOutputBufferSize(std::int16_t value) {
    return call("OutputBufferSize", "OutputBufferSize=" + std::to_string(value));
}
bool RecordingControl::setInputMode(std::int32_t value) {
    return call("InputMode", "InputMode=" + std::to_string(value));
}
bool RecordingControl::setEnableCancel(bool value) {
    return call("EnableCancel", value ? "EnableCancel=1" : "EnableCancel=0");
}
bool RecordingControl::setNullDiscard(bool value) {
    return call("NullDiscard", value ? "NullDiscard=1" : "NullDiscard=0");
}

} // namespace qz::test
