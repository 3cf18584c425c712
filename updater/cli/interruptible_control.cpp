#include "updater/cli/interruptible_control.h"

namespace qz::cli {

InterruptibleControl::InterruptibleControl(TransferControl& inner, const std::atomic<bool>& interrupted)
    : ForwardingTransferControl(inner), interrupted_(interrupted) {}

bool InterruptibleControl::setPortOpen(bool open) {
    if (open && interrupted_.load()) return false;
    return ForwardingTransferControl::setPortOpen(open);
}

bool InterruptibleControl::output(std::string_view text) {
    if (interrupted_.load()) return false;
    return ForwardingTransferControl::output(text);
}

bool InterruptibleControl::sendFile() {
    if (interrupted_.load()) return false;
    return ForwardingTransferControl::sendFile();
}

} // namespace qz::cli
