#include "interrupt.h"

#include "serial_transfer_control.h"

namespace qz::cli {

namespace {
std::atomic<bool> interrupted{false};
std::atomic<SerialTransferControl*> abortTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<SerialTransferControl*>::is_always_lock_free);
} // namespace

void raiseInterrupt() noexcept {
    interrupted.store(true);
    if (SerialTransferControl* control = abortTarget.load()) control->requestAbort();
}

bool interruptRaised() noexcept { return interrupted.load(); }

const std::atomic<bool>& interruptFlag() noexcept { return interrupted; }

void resetInterrupt() noexcept { interrupted.store(false); }

void setAbortTarget(SerialTransferControl* control) noexcept { abortTarget.store(control); }

} // namespace qz::cli
