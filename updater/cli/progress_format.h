#pragma once
// Texts of the progress display: the redrawn terminal line and the plain lines written at each
// tenth when the output is a file or a pipe.

#include "updater/core/xmodem_sender.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qz::cli {

// "512 B", "28.9 KiB", "3.2 MiB".
std::string formatBytes(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03" (whole seconds, rounded up so that "0:00" means done).
std::string formatDuration(double seconds);

// Bytes per second since the receiver's first request; empty until something was acknowledged.
std::optional<double> throughput(const XmodemProgress& progress, double elapsedSeconds);
// Seconds left at the throughput so far; empty while the throughput is unknown.
std::optional<double> secondsLeft(const XmodemProgress& progress, double elapsedSeconds);

// Per cent of the image acknowledged, 0 to 100 (100 for an empty image only when finished).
int percentDone(const XmodemProgress& progress);

// "[#########...........]  45% 231/512 blk 28.9 KiB 4.6 KiB/s 0 retries 0:09 left"
std::string terminalProgressLine(const XmodemProgress& progress, double elapsedSeconds);
// "[#####.....]  45% 28.9 KiB 4.6 KiB/s 0 retries 0:09 left": a port's line among several.
std::string compactProgressLine(const XmodemProgress& progress, double elapsedSeconds);
// "Sent  40%: 205/512 blocks, 26240/65536 bytes, 5.4 KiB/s, 0 retries, 0:07 left"
std::string plainProgressLine(const XmodemProgress& progress, double elapsedSeconds);

// Tells when the acknowledged part of the image reaches the next tenth (10%, 20%, ... 100%).
class TenthMilestones {
public:
    // The tenth (1 to 10) first reached by this report, if any; a jump over several tenths
    // gives only the highest.
    std::optional<int> reached(const XmodemProgress& progress);

private:
    int reported_ = 0;
};

} // namespace qz::cli
