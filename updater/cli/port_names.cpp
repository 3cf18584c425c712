#include "updater/cli/port_names.h"

#include <cctype>

namespace qz::cli {

int comPortNumber(std::string_view text) {
    if (text.starts_with("\\\\.\\")) text.remove_prefix(4);
    const auto upper = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
    if (text.size() > 3 && upper(text[0]) == 'C' && upper(text[1]) == 'O' && upper(text[2]) == 'M')
        text.remove_prefix(3);
    if (text.empty() || text.size() > 3 || text.front() == '0') return 0;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number <= 255 ? number : 0;
}

} // namespace qz::cli
