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

class DrawnTransferControl final : public ForwardingTransferControl {
public:
    // `pump` handles pending window messages; it runs while SendFile waits on the line.
    DrawnTransferControl(SerialTransferControl& control, TransferArea& area, std::function<void()> pump);

    // Shows the control's present state in its area.
    void refresh();

    // The members that change what the area shows.
    bool setCommPort(std::int16_t port) override { return refreshed(control_.setCommPort(port)); }
    bool setSettings(const LineSettings& line) override { return refreshed(control_.setSettings(line)); }
    bool setPortOpen(bool open) override { return refreshed(control_.setPortOpen(open)); }
    bool sendFile() override;

private:
    // Brings the area up to date after a member that returned `ok`.
    bool refreshed(bool ok) {
        refresh();
        return ok;
    }

    SerialTransferControl& control_;
    TransferArea& area_;
    bool transferSeen_ = false;
    std::chrono::steady_clock::time_point lastProgressPaint_{};
};

} // namespace qz::win32
