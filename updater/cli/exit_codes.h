#pragma once
// How an upload ended, as the tool reports it: one exit code and one JSON outcome per way out.

#include "updater/core/upload_sequence.h"

#include <optional>
#include <span>
#include <string_view>

namespace qz::cli {

enum class Outcome {
    success,
    usageError,
    firmwareUnreadable,
    portFailed,
    timedOut,
    transferFailed,
    interrupted,
    internalError,
    // Several ports failed, not all in the same way (the whole run only; no port ends so).
    mixedFailures,
};

enum ExitCode : int {
    kExitSuccess = 0,
    kExitInternalError = 1,
    kExitUsage = 2,
    kExitFirmwareUnreadable = 3,
    kExitPortFailed = 4,
    kExitTimedOut = 5,
    kExitTransferFailed = 6,
    kExitMixedFailures = 7,
    kExitInterrupted = 130, // 128 + SIGINT, as shells report a Ctrl-C
};

int exitCode(Outcome outcome);
// "success", "usage_error", "firmware_unreadable", "port_failed", "timeout",
// "transfer_failed", "interrupted", "internal_error", "mixed_failures".
std::string_view outcomeName(Outcome outcome);

// The tool's outcome for what the upload sequence returned. An interruption wins over every
// other result, success included: after Ctrl-C the tool never reports success.
Outcome outcomeOf(const UploadResult& result, bool interrupted);

// The outcome of a run over several ports (or boards): success when all succeeded (or there
// were none); interrupted when any was; else the failures' outcome when they share one, and
// mixedFailures when they do not.
Outcome combinedOutcome(std::span<const Outcome> outcomes);

} // namespace qz::cli
