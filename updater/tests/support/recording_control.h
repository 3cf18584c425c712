#pragma once
// A TransferControl that owns no port: it records every member call with its value, in order,
// into a CallLog ("CommPort=5", "Settings=9600,n,8,1", "PortOpen=1", "PortOpen?", "Output=<CR>",
// "Input?", "SendFile", "TransferStatus?", ...), models the open/closed state, fails members on
// request and answers Input from a script.

#include "updater/core/transfer_control.h"
#include "updater/tests/support/call_log.h"

#include <deque>
#include <functional>
#include <map>
#include <string>

namespace qz::test {

class RecordingControl final : public TransferControl {
public:
    explicit RecordingControl(CallLog& log) : log_(log) {}

    // The member named `member` ("CommPort", "Settings", "PortOpen", "Output", "Input",
    // "SendFile", "TransferStatus", "EnableCancel", ...) fails its next `times` calls
    // (-1: always). A failing setter changes nothing and is still logged.
    void failMember(const std::string& member, int times = -1) { failures_[member] = times; }
    // The calls logged exactly as `entry` ("Handshaking=0", "PortOpen?") fail, `times` of them.
    void failCall(const std::string& entry, int times = 1) { callFailures_[entry] = times; }
    // Input replies, one per read; when none is queued (and no source is set) a read gives "".
    void queueInput(std::string text) { inputs_.push_back(std::move(text)); }
    // Called for each read instead of the queue when set.
    std::function<std::string()> inputSource;
    // Runs inside SendFile (e.g. to advance a fake clock).
    std::function<void()> onSendFile;
    TransferStatus statusAfterSend = TransferStatus::complete;

    bool isOpen() const { return open_; }

    bool setCommPort(std::int16_t port) override { return set("CommPort", std::to_string(port)); }
    bool setSettings(const LineSettings& line) override { return set("Settings", formatLineSettings(line)); }
    bool setPortOpen(bool open) override;
    std::optional<bool> portOpen() const override;
    bool output(std::string_view text) override;
    std::optional<std::string> input() override;
    bool setSendFileName(std::string_view path) override { return set("SendFileName", path); }
    bool sendFile() override;
    std::optional<TransferStatus> transferStatus() const override;
    bool setInputLength(std::int16_t value) override { return set("InputLength", std::to_string(value)); }
    bool setHandshaking(std::int32_t value) override { return set("Handshaking", std::to_string(value)); }
    bool setInputBufferSize(std::int16_t value) override { return set("InputBufferSize", std::to_string(value)); }
    bool setOutputBufferSize(std::int16_t value) override { return set("OutputBufferSize", std::to_string(value)); }
    bool setInputMode(std::int32_t value) override { return set("InputMode", std::to_string(value)); }
    bool setEnableCancel(bool value) override { return set("EnableCancel", flag(value)); }
    bool setNullDiscard(bool value) override { return set("NullDiscard", flag(value)); }
    std::string lastError() const override { return lastError_; }

private:
    static std::string flag(bool value) { return value ? "1" : "0"; }
    // Logs the call and tells whether it succeeds.
    bool call(const std::string& member, const std::string& entry) const;
    // A setter: logs "Member=value".
    bool set(const std::string& member, std::string_view value) const;

    CallLog& log_;
    mutable std::map<std::string, int> failures_;
    mutable std::map<std::string, int> callFailures_;
    mutable std::string lastError_;
    std::deque<std::string> inputs_;
    bool open_ = false;
    TransferStatus status_ = TransferStatus::notStarted;
};

} // namespace qz::test
