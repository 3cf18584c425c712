#include "updater/cli/interrupt.h"

namespace qz::cli {

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

void raiseInterrupt() noexcept { interrupted.store(true); }

bool interruptRaised() noexcept { return interrupted.load(); }

const std::atomic<bool>& interruptFlag() noexcept { return interrupted; }

void resetInterrupt() noexcept { interrupted.store(false); }

} // namespace qz::cli
