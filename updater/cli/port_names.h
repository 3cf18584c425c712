#pragma once
// Windows port names as the tool takes them: "COM3", "com3", "3" (as the window's port list
// numbers them) and "\\.\COM3" all mean COM port 3.

#include <string_view>

namespace qz::cli {

// The COM port number 1 to 255 that the text names, or 0 when it names none.
int comPortNumber(std::string_view text);

} // namespace qz::cli
