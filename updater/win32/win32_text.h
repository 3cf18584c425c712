#pragma once
// Text at the edge of the window shell: the logic works in the system's ANSI code page, the
// window in UTF-16.

#include <string>
#include <string_view>

namespace qz::win32 {

std::wstring widen(std::string_view ansi);
std::string narrow(std::wstring_view wide);

} // namespace qz::win32
