#include "updater/win32/win32_drawn_control.h"

namespace qz::win32 {
namespace {
constexpr auto kProgressPaintInterval = std::chrono::milliseconds(100);
}

DrawnTransferControl::DrawnTransferControl(SerialTransferControl& control, TransferArea& area,
                                           std::function<void()> pump)
    : ForwardingTransferControl(control), control_(control), area_(area) {
    control_.setProgressHook([this](const TransferReport& report) {
        // A block takes about 23 ms at 57600 baud, and a repaint costs a noticeable share of
        // that under some display servers: while blocks keep coming, the area is brought up to
        // date a few times a second; the first and the last report always show.
        const auto now = std::chrono::steady_clock::now();
        const bool first = report.progress.blocksAcked == 0;
        if (report.running && !first && now - lastProgressPaint_ < kProgressPaintInterval) return;
        lastProgressPaint_ = now;
        // The thread is busy sending: draw now rather than at the next pump.
        TransferAreaModel model;
        model.portState = control_.portStateText();
        model.transferSeen = true;
        model.transfer = control_.lastTransfer();
        area_.setModel(model, true);
    });
    control_.setIdleHook([pump = std::move(pump)] {
        if (pump) pump();
        return IdleAction::proceed;
    });
}

void DrawnTransferControl::refresh() {
    TransferAreaModel model;
    model.portState = control_.portStateText();
    model.transferSeen = transferSeen_;
    model.transfer = control_.lastTransfer();
    area_.setModel(model);
}

bool DrawnTransferControl::sendFile() {
    transferSeen_ = true;
    refresh();
    const bool ok = control_.sendFile();
    refresh();
    return ok;
}

} // namespace qz::win32
