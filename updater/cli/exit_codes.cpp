#include "updater/cli/exit_codes.h"

#include "updater/core/transfer_control.h"

namespace qz::cli {

int exitCode(Outcome outcome) {
    switch (outcome) {
    case Outcome::success: return kExitSuccess;
    case Outcome::usageError: return kExitUsage;
    case Outcome::firmwareUnreadable: return kExitFirmwareUnreadable;
    case Outcome::portFailed: return kExitPortFailed;
    case Outcome::timedOut: return kExitTimedOut;
    case Outcome::transferFailed: return kExitTransferFailed;
    case Outcome::interrupted: return kExitInterrupted;
    case Outcome::mixedFailures: return kExitMixedFailures;
    case Outcome::internalError: break;
    }
    return kExitInternalError;
}

std::string_view outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::success: return "success";
    case Outcome::usageError: return "usage_error";
    case Outcome::firmwareUnreadable: return "firmware_unreadable";
    case Outcome::portFailed: return "port_failed";
    case Outcome::timedOut: return "timeout";
    case Outcome::transferFailed: return "transfer_failed";
    case Outcome::interrupted: return "interrupted";
    case Outcome::mixedFailures: return "mixed_failures";
    case Outcome::internalError: break;
    }
    return "internal_error";
}

Outcome outcomeOf(const UploadResult& result, bool interrupted) {
    if (interrupted) return Outcome::interrupted;
    switch (result.outcome) {
    case UploadOutcome::Success: return Outcome::success;
    case UploadOutcome::PortFailed: return Outcome::portFailed;
    case UploadOutcome::TimedOut: return Outcome::timedOut;
    case UploadOutcome::Cancelled: return Outcome::interrupted;
    case UploadOutcome::NoFile: return Outcome::firmwareUnreadable;
    case UploadOutcome::TransferFailed:
        // The file is read when the transfer starts: it can have gone since it was checked.
        if (result.transferStatus == TransferStatus::fileUnreadable) return Outcome::firmwareUnreadable;
        if (result.transferStatus == TransferStatus::aborted) return Outcome::interrupted;
        return Outcome::transferFailed;
    }
    return Outcome::internalError;
}

Outcome combinedOutcome(std::span<const Outcome> outcomes) {
    std::optional<Outcome> failure;
    bool mixed = false;
    for (const Outcome outcome : outcomes) {
        if (outcome == Outcome::interrupted) return Outcome::interrupted;
        if (outcome == Outcome::success) continue;
        if (failure && *failure != outcome) mixed = true;
        failure = outcome;
    }
    if (mixed) return Outcome::mixedFailures;
    return failure.value_or(Outcome::success);
}

} // namespace qz::cli
