#include "updater/cli/interruptible_control.h"

namespace qz::cli {

InterruptibleControl::InterruptibleControl(TransferControl& inner, const std::atomic<bool>& interrupted)
    : inner_(inner), interrupted_(interrupted) {}

bool InterruptibleControl::setPortOpen(bool open) {
    if (!open) return inner_.setPortOpen(false);
    if (interrupted_.load()) return false;
    const auto wasOpen = inner_.portOpen();
    if (!inner_.setPortOpen(true)) return false;
    if (wasOpen && !*wasOpen && onOpened) onOpened();
    return true;
}

bool InterruptibleControl::output(std::string_view text) {
    if (interrupted_.load()) return false;
    return inner_.output(text);
}

bool InterruptibleControl::sendFile() {
    if (interrupted_.load()) return false;
    return inner_.sendFile();
}

} // namespace qz::cli
