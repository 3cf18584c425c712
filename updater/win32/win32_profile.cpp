#include "updater/win32/win32_profile.h"

#include "common/win32/text.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qz {

// The wide calls reach a file in any folder. The system converts names and values from and to
// the ANSI code page, and writes a file that has no byte-order mark in ANSI, as the ANSI calls do.

std::string Win32Profile::readString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize, const std::filesystem::path& file) {
    if (bufferSize == 0) return {};
    const std::wstring s = win32::widen(section), k = win32::widen(key), d = win32::widen(defaultValue);
    std::vector<wchar_t> buffer(bufferSize, L'\0');
    const DWORD copied = GetPrivateProfileStringW(s.c_str(), k.c_str(), d.c_str(), buffer.data(),
                                                  static_cast<DWORD>(bufferSize), file.c_str());
    return win32::narrow(std::wstring_view(buffer.data(), std::min<std::size_t>(copied, bufferSize - 1)));
}

bool Win32Profile::writeString(std::string_view section, std::string_view key, std::string_view value,
                               const std::filesystem::path& file) {
    const std::wstring s = win32::widen(section), k = win32::widen(key), v = win32::widen(value);
    return WritePrivateProfileStringW(s.c_str(), k.c_str(), v.c_str(), file.c_str()) != 0;
}

} // namespace qz
