#include "updater/sim/trace.h"

#include <sstream>
#include <vector>

namespace qzsim {

Trace::~Trace() {
    if (file_) std::fclose(file_);
}

bool Trace::open(const std::string& path) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) return false;
    std::fputs("# qz450sim wire trace: <seconds> RX|TX <baud> <hex> | <seconds> EV <event>\n", file_);
    std::fflush(file_);
    return true;
}

void Trace::data(double seconds, const char* dir, unsigned speed, std::span<const std::uint8_t> bytes) {
    if (!file_ || bytes.empty()) return;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 0x0f]);
    }
    std::fprintf(file_, "%.6f %s %u %s\n", seconds, dir, speed, hex.c_str());
    // Flushed per line: tests read the trace while the simulator still runs.
    std::fflush(file_);
}

void Trace::rx(double seconds, unsigned speed, std::span<const std::uint8_t> bytes) {
    data(seconds, "RX", speed, bytes);
}

void Trace::tx(double seconds, unsigned speed, std::span<const std::uint8_t> bytes) {
    data(seconds, "TX", speed, bytes);
}

void Trace::event(double seconds, std::string_view text) {
    if (!file_) return;
    std::fprintf(file_, "%.6f EV %.*s\n", seconds, static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

std::string normaliseTrace(std::istream& in, long upload) {
    struct Line {
        std::string dir;
        std::string speed;
        std::string hex;
    };
    std::vector<Line> lines;
    long current = 0;
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string time;
        std::string dir;
        if (!(fields >> time >> dir) || time.starts_with("#")) continue;
        if (dir == "EV") {
            std::string what;
            long number = 0;
            if (fields >> what >> number && what == "upload") current = number;
            continue;
        }
        if (dir != "RX" && dir != "TX") continue;
        if (upload > 0 && current != upload) continue;
        std::string speed;
        std::string hex;
        if (!(fields >> speed >> hex)) continue;
        if (dir == "TX") {
            // The number of "%" depends on timing only: leave them out.
            bool onlyPercent = hex.size() % 2 == 0;
            for (std::size_t i = 0; onlyPercent && i < hex.size(); i += 2) onlyPercent = hex.compare(i, 2, "25") == 0;
            if (onlyPercent) continue;
        }
        if (!lines.empty() && lines.back().dir == dir && lines.back().speed == speed)
            lines.back().hex += hex;
        else
            lines.push_back({dir, speed, hex});
    }
    std::string out;
    for (const auto& line : lines) out += line.dir + " " + line.speed + " " + line.hex + "\n";
    return out;
}

} // namespace qzsim
