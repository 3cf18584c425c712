#pragma once
// The Ctrl-C flag. The platform's handler (a POSIX signal handler, or a Windows console control
// handler on its own thread) raises it; every port's console host and transfer idle hook read
// it (the idle hook runs at least every 50 ms while a transfer waits).
// Only lock-free atomics are touched, so raising is safe from a signal handler.

#include <atomic>

namespace qz::cli {

void raiseInterrupt() noexcept;
bool interruptRaised() noexcept;
const std::atomic<bool>& interruptFlag() noexcept;
// Clears the flag (a new run in the same process, tests).
void resetInterrupt() noexcept;

} // namespace qz::cli
