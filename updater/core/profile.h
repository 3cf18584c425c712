#pragma once
// Private-profile (INI) access with the observable behaviour of the platform's
// GetPrivateProfileStringA / WritePrivateProfileStringA: section and key names matched without
// regard to letter case, blanks around names and values and one pair of enclosing quotes
// stripped on reading, values cut to fit the caller's buffer, a missing file, section or key
// reading as the default, lines before the first section ignored, a new section appended at
// the end, an existing key's value replaced in place.
//
// Implementations: portableProfile() (ini_profile.h) and Win32Profile (updater/win32). The
// file is a path, so that a folder named with characters outside the ANSI code page is reached;
// names and values are text in that code page.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace qz {

class Profile {
public:
    virtual ~Profile() = default;

    // Reads `key` of `section` in `file` as a read into a buffer of `bufferSize` characters
    // would: returns the copied characters, at most bufferSize - 1 of them. A missing file,
    // section or key gives `defaultValue` (cut the same way).
    virtual std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                   std::size_t bufferSize, const std::filesystem::path& file) = 0;

    // Stores `value` under `key` in `section` of `file`, creating the file, the section or the
    // key when missing. False when the file cannot be written.
    virtual bool writeString(std::string_view section, std::string_view key, std::string_view value,
                             const std::filesystem::path& file) = 0;
};

} // namespace qz
