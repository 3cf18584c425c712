#pragma once
// The Ctrl-C flag. The platform's handler (a POSIX signal handler, or a Windows console control
// handler on its own thread) raises it; the console host and the transfer's idle hook read it.
// Only lock-free atomics are touched, so raising is safe from a signal handler.

#include <atomic>

namespace qz {
class SerialTransferControl;
}

namespace qz::cli {

void raiseInterrupt() noexcept;
bool interruptRaised() noexcept;
const std::atomic<bool>& interruptFlag() noexcept;
// Clears the flag (a new run in the same process, tests).
void resetInterrupt() noexcept;
// A running transfer of this control is aborted at once when the interrupt is raised.
void setAbortTarget(SerialTransferControl* control) noexcept;

} // namespace qz::cli
