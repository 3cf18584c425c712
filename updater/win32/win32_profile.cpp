#include "updater/win32/win32_profile.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qz {

std::string Win32Profile::readString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize, std::string_view file) {
    if (bufferSize == 0) return {};
    const std::string s(section), k(key), d(defaultValue), f(file);
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD copied = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer.data(),
                                                  static_cast<DWORD>(bufferSize), f.c_str());
    return std::string(buffer.data(), std::min<std::size_t>(copied, bufferSize - 1));
}

bool Win32Profile::writeString(std::string_view section, std::string_view key, std::string_view value,
                               std::string_view file) {
    const std::string s(section), k(key), v(value), f(file);
    return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), f.c_str()) != 0;
}

} // namespace qz
