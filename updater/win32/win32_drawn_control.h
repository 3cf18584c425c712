#pragma once
// The serial transfer control as sited on the window: every member goes to the serial control,
// and the control's area is brought up to date after each one, so that the port state it shows
// follows the control; while a file is sent, progress is drawn at once and the idle hook keeps
// the window's messages flowing.

#include "updater/core/serial_transfer_control.h"
#include "updater/win32/win32_transfer_area.h"

#include <chrono>
#include <functional>

namespace qz::win32 {

class DrawnTransferControl final : public TransferControl {
public:
    // `pump` handles pending window messages; it runs while SendFile waits on the line.
    DrawnTransferControl(SerialTransferControl& control, TransferArea& area, std::function<void()> pump);

    // Shows the control's present state in its area.
    void refresh();

    bool setCommPort(std::int16_t port) override;
    std::optional<std::int16_t> commPort() const override { return control_.commPort(); }
    bool setSettings(const LineSettings& line) override;
    std::optional<LineSettings> settings() const override { return control_.settings(); }
    bool setPortOpen(bool open) override;
    std::optional<bool> portOpen() const override { return control_.portOpen(); }
    bool output(std::string_view text) override { return control_.output(text); }
    std::optional<std::string> input() override { return control_.input(); }
    bool setSendFileName(std::string_view path) override { return control_.setSendFileName(path); }
    std::optional<std::string> sendFileName() const override { return control_.sendFileName(); }
    bool sendFile() override;
    std::optional<TransferStatus> transferStatus() const override { return control_.transferStatus(); }
    bool setInputLength(std::int16_t value) override { return control_.setInputLength(value); }
    bool setHandshaking(std::int32_t value) override { return control_.setHandshaking(value); }
    bool setInputBufferSize(std::int16_t value) override { return control_.setInputBufferSize(value); }
    bool setOutputBufferSize(std::int16_t value) override { return control_.setOutputBufferSize(value); }
    bool setInputMode(std::int32_t value) override { return control_.setInputMode(value); }
    bool setEnableCancel(bool value) override { return control_.setEnableCancel(value); }
    bool setNullDiscard(bool value) override { return control_.setNullDiscard(value); }
    std::string lastError() const override { return control_.lastError(); }

private:
    SerialTransferControl& control_;
    TransferArea& area_;
    bool transferSeen_ = false;
    std::chrono::steady_clock::time_point lastProgressPaint_{};
};

} // namespace qz::win32
