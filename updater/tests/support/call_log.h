#pragma once
// One ordered log of calls shared by the updater fakes, so that tests can check the order of
// view, dialog and transfer-control calls against each other.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::test {

struct CallLog {
    std::vector<std::string> entries;
    // Fake time of each entry, when a clock is set.
    std::vector<std::uint64_t> times;
    std::function<std::uint64_t()> clock;
    void add(std::string entry) {
        entries.push_back(std::move(entry));
        times.push_back(clock ? clock() : 0);
    }
    // Entries starting with `prefix`, in order.
    std::vector<std::string> withPrefix(std::string_view prefix) const;
    // Index of the first entry equal to `entry` at or after `from`; entries.size() when none.
    std::size_t find(std::string_view entry, std::size_t from = 0) const;
    bool contains(std::string_view entry) const { return find(entry) != entries.size(); }
    void clear() {
        entries.clear();
        times.clear();
    }
};

// CR shown as "<CR>" so that log entries stay on one line.
std::string visible(std::string_view text);

} // namespace qz::test
