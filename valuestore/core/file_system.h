// The file-system seam of the value store: the file access it needs, and the lead bytes of the code
// page in which paths and data files are written. The platform's implementation comes from
// vs_platform; tests supply their own.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "valuestore/core/store_error.h"

namespace vs {

// The lead bytes of the double-byte characters of an ANSI code page (932, 936, 949, 950): a lead byte
// and the byte after it are one character. All false for a single-byte code page.
using LeadBytes = std::array<bool, 256>;
inline constexpr LeadBytes kNoLeadBytes{};

// The file access the store needs. Every failure is a StoreError carrying one of the file error
// numbers of store_error.h.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // False when the path cannot name one file: empty, a pattern holding '*' or '?', written as a folder
    // (trailing '/' or '\'), or an existing folder. The store never reads, writes or deletes such a path.
    virtual bool namesSingleFile(const std::string& path) = 0;

    // The file's whole content; std::nullopt when there is no file of that name in an existing folder.
    // Any other failure (folder missing, access denied, locked, ...) throws StoreError.
    virtual std::optional<std::string> readFile(const std::string& path) = 0;

    // Replaces (or creates) the file atomically: writes a temporary file in the same folder, flushes it to
    // the disk and renames it over the path. On failure throws StoreError and leaves any old file intact.
    virtual void replaceFile(const std::string& path, std::string_view content) = 0;

    // Deletes the one file of that name. Throws StoreError on failure (fileNotFound when there is none).
    virtual void removeFile(const std::string& path) = 0;

    // The lead bytes of the code page in which paths and data files are written; none unless the
    // platform has a double-byte code page. Every search in the working texts matches whole characters.
    virtual const LeadBytes& leadBytes() const { return kNoLeadBytes; }
};

// The platform's file system (POSIX or Win32, from vs_platform). Lives as long as the process.
FileSystem& systemFileSystem();

// Syntactic part of FileSystem::namesSingleFile, shared by the implementations: false for an empty
// path, one holding '*' or '?', or one ending in '/' or '\'.
bool mayNameSingleFile(std::string_view path);

} // namespace vs
