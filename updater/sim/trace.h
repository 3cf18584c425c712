#pragma once
// Wire trace: every chunk received (RX) and sent (TX) with the line speed in force and the
// time since start, plus event lines (EV). See usageText() for the format.

#include <cstdint>
#include <cstdio>
#include <istream>
#include <span>
#include <string>
#include <string_view>

namespace qzsim {

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool open(const std::string& path); // an empty path leaves the trace off
    void rx(double seconds, unsigned speed, std::span<const std::uint8_t> bytes);
    void tx(double seconds, unsigned speed, std::span<const std::uint8_t> bytes);
    void event(double seconds, std::string_view text);

private:
    void data(double seconds, const char* dir, unsigned speed, std::span<const std::uint8_t> bytes);
    std::FILE* file_ = nullptr;
};

// Timing-free form of a trace for comparing two uploads: RX/TX lines without times, TX lines
// made only of "%" left out, consecutive lines of one direction and speed merged, events
// dropped. upload > 0 keeps only the lines after "EV upload <upload>" up to the next one.
std::string normaliseTrace(std::istream& in, long upload);

} // namespace qzsim
