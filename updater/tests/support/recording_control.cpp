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

bool RecordingControl::set(const std::string& member, std::string_view value) const {
    return call(member, member + "=" + std::string(value));
}

bool RecordingControl::setPortOpen(bool open) {
    if (!set("PortOpen", flag(open))) return false;
    if (open && !open_) status_ = TransferStatus::notStarted;
    open_ = open;
    return true;
}

std::optional<bool> RecordingControl::portOpen() const {
    if (!call("PortOpen", "PortOpen?")) return std::nullopt;
    return open_;
}

bool RecordingControl::output(std::string_view text) {
    if (!set("Output", visible(text))) return false;
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

} // namespace qz::test
