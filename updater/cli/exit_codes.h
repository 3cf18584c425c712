#pragma once
// How an upload ended, as the tool reports it: one exit code and one JSON outcome per way out.

#include "upload_sequence.h"

#include <optional>
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
};

enum ExitCode : int {
    kExitSuccess = 0,
    kExitInternalError = 1,
    kExitUsage = 2,
    kExitFirmwareUnreadable = 3,
    kExitPortFailed = 4,
    kExitTimedOut = 5,
    kExitTransferFailed = 6,
    kExitInterrupted = 130, // 128 + SIGINT, as shells report a Ctrl-C
};

int exitCode(Outcome outcome);
// "success", "usage_error", "firmware_unreadable", "port_failed", "timeout",
// "transfer_failed", "interrupted", "internal_error".
std::string_view outcomeName(Outcome outcome);

// The tool's outcome for what the upload sequence returned. An interruption wins over every
// other result, success included: after Ctrl-C the tool never reports success.
Outcome outcomeOf(const UploadResult& result, bool interrupted);

} // namespace qz::cli
