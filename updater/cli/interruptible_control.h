#pragma once
// The transfer control as the tool hands it to the upload sequence: every member goes through
// to the real control, but once Ctrl-C was pressed nothing new reaches the line (no open, no
// output, no file send; closing still works). The sequence skips failing steps, so it runs
// straight to its finish and closes the port. It also tells the tool when the port opens,
// the moment the wake-up phase begins.

#include "updater/core/transfer_control.h"

#include <atomic>
#include <functional>

namespace qz::cli {

class InterruptibleControl final : public TransferControl {
public:
    InterruptibleControl(TransferControl& inner, const std::atomic<bool>& interrupted);

    // Called after each open of a closed port.
    std::function<void()> onOpened;

    bool setCommPort(std::int16_t port) override { return inner_.setCommPort(port); }
    std::optional<std::int16_t> commPort() const override { return inner_.commPort(); }
    bool setSettings(const LineSettings& line) override { return inner_.setSettings(line); }
    std::optional<LineSettings> settings() const override { return inner_.settings(); }
    bool setPortOpen(bool open) override;
    std::optional<bool> portOpen() const override { return inner_.portOpen(); }
    bool output(std::string_view text) override;
    std::optional<std::string> input() override { return inner_.input(); }
    bool setSendFileName(std::string_view path) override { return inner_.setSendFileName(path); }
    std::optional<std::string> sendFileName() const override { return inner_.sendFileName(); }
    bool sendFile() override;
    std::optional<TransferStatus> transferStatus() const override { return inner_.transferStatus(); }
    bool setInputLength(std::int16_t value) override { return inner_.setInputLength(value); }
    bool setHandshaking(std::int32_t value) override { return inner_.setHandshaking(value); }
    bool setInputBufferSize(std::int16_t value) override { return inner_.setInputBufferSize(value); }
    bool setOutputBufferSize(std::int16_t value) override { return inner_.setOutputBufferSize(value); }
    bool setInputMode(std::int32_t value) override { return inner_.setInputMode(value); }
    bool setEnableCancel(bool value) override { return inner_.setEnableCancel(value); }
    bool setNullDiscard(bool value) override { return inner_.setNullDiscard(value); }
    std::string lastError() const override { return inner_.lastError(); }

private:
    TransferControl& inner_;
    const std::atomic<bool>& interrupted_;
};

} // namespace qz::cli
