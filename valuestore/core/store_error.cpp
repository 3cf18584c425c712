#include "valuestore/core/store_error.h"

namespace vs {

std::string_view standardErrorText(int number) {
    switch (number) {
    case error::invalidArgument: return "Invalid procedure call or argument";
    case error::badFileName: return "Bad file name or number";
    case error::fileNotFound: return "File not found";
    case error::diskFull: return "Disk full";
    case error::permissionDenied: return "Permission denied";
    case error::pathNotFound: return "Path not found";
    default: return "Path/File access error";
    }
}

StoreError::StoreError(int errorNumber) : StoreError(errorNumber, std::string(standardErrorText(errorNumber))) {}

StoreError::StoreError(int errorNumber, const std::string& description)
    : std::runtime_error(description), number(errorNumber) {}

StoreError fileError(int errorNumber, std::string_view path, std::string_view reason) {
    return StoreError(errorNumber, std::string(standardErrorText(errorNumber)) + ": '" + std::string(path) +
                                       "': " + std::string(reason));
}

} // namespace vs
