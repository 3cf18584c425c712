#pragma once
// The transfer control as the tool hands it to the upload sequence: every member goes through
// to the real control, but once Ctrl-C was pressed nothing new reaches the line (no open, no
// output, no file send; closing still works). The sequence skips failing steps, so it runs
// straight to its finish and closes the port.

#include "updater/core/transfer_control.h"

#include <atomic>

namespace qz::cli {

class InterruptibleControl final : public ForwardingTransferControl {
public:
    InterruptibleControl(TransferControl& inner, const std::atomic<bool>& interrupted);

    bool setPortOpen(bool open) override;
    bool output(std::string_view text) override;
    bool sendFile() override;

private:
    const std::atomic<bool>& interrupted_;
};

} // namespace qz::cli
