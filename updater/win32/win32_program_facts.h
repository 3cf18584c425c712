#pragma once
// Facts about the running program read from the system: its folder and, from the program
// file's version resource, its version numbers and application title.

#include "updater/core/updater_view.h"

#include <optional>
#include <string>

namespace qz::win32 {

struct VersionResource {
    int major = 0;
    int minor = 0;
    int revision = 0;
    std::string productName; // the application title
};

// Version resource of the program file at `path`: FILEVERSION major,minor,revision,build and
// the ProductName string of its first translation. Empty when the file has none.
std::optional<VersionResource> readVersionResource(const std::wstring& path);

// Full path of the running program file.
std::wstring programPath();

// The running program's folder (no trailing separator), version and title; the fields that
// cannot be read keep their defaults.
ProgramFacts currentProgramFacts();

} // namespace qz::win32
