#pragma once
// What the tool's console classes are handed: where their text goes, and the clock they read
// (a test gives a virtual one).

#include <chrono>
#include <functional>
#include <string_view>

namespace qz::cli {

// Takes text for the user: a line, or a line redrawn in place.
using Sink = std::function<void(std::string_view)>;
// The time; empty: the steady clock.
using Clock = std::function<std::chrono::steady_clock::time_point()>;

inline std::chrono::steady_clock::time_point timeOf(const Clock& clock) {
    return clock ? clock() : std::chrono::steady_clock::now();
}

} // namespace qz::cli
