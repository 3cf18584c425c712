// The errors of the value store: the error numbers an automation host expects, their standard
// descriptions, and the exception that carries one.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace vs {

// Error numbers an automation host expects; the control raises HRESULT 0x800A0000 | number.
// standardErrorText gives the description of each.
namespace error {
enum Number : int {
    invalidArgument = 5,      // "Invalid procedure call or argument"
    badFileName = 52,         // "Bad file name or number"
    fileNotFound = 53,        // "File not found"
    diskFull = 61,            // "Disk full"
    permissionDenied = 70,    // "Permission denied"
    pathFileAccessError = 75, // "Path/File access error"
    pathNotFound = 76,        // "Path not found"
};
} // namespace error

// The standard description of an error number above ("Path/File access error" for any other).
std::string_view standardErrorText(int number);

struct StoreError : std::runtime_error {
    // With the standard description of the number.
    explicit StoreError(int errorNumber);
    StoreError(int errorNumber, const std::string& description);
    int number;
};

// A file error naming the file and the system's reason: "<standard text>: '<path>': <reason>".
StoreError fileError(int errorNumber, std::string_view path, std::string_view reason);

} // namespace vs
