#include "updater/tests/support/call_log.h"

namespace qz::test {

std::vector<std::string> CallLog::withPrefix(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        if (std::string_view(e).substr(0, prefix.size()) == prefix) out.push_back(e);
    }
    return out;
}

std::size_t CallLog::find(std::string_view entry, std::size_t from) const {
    for (std::size_t i = from; i < entries.size(); ++i) {
        if (entries[i] == entry) return i;
    }
    return entries.size();
}

std::string visible(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "<CR>";
        else
            out.push_back(c);
    }
    return out;
}

} // namespace qz::test
