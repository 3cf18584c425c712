#include "updater/cli/progress_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qz::cli {

namespace {

std::string printed(const char* format, double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

} // namespace

std::string formatBytes(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const double value = static_cast<double>(bytes);
    if (bytes < 1024 * 1024) return printed("%.1f KiB", value / 1024.0);
    return printed("%.1f MiB", value / (1024.0 * 1024.0));
}

std::string formatDuration(double seconds) {
    const auto total = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long secs = total % 60;
    char buffer[40];
    if (hours > 0)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", hours, minutes, secs);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", minutes, secs);
    return buffer;
}

std::optional<double> throughput(const XmodemProgress& progress, double elapsedSeconds) {
    if (progress.bytesAcked == 0 || elapsedSeconds <= 0) return std::nullopt;
    return static_cast<double>(progress.bytesAcked) / elapsedSeconds;
}

std::optional<double> secondsLeft(const XmodemProgress& progress, double elapsedSeconds) {
    const auto rate = throughput(progress, elapsedSeconds);
    if (!rate) return std::nullopt;
    const auto left = progress.bytesTotal - std::min(progress.bytesAcked, progress.bytesTotal);
    return static_cast<double>(left) / *rate;
}

int percentDone(const XmodemProgress& progress) {
    if (progress.bytesTotal == 0) return progress.phase == XmodemPhase::finished ? 100 : 0;
    const auto acked = std::min(progress.bytesAcked, progress.bytesTotal);
    return static_cast<int>(acked * 100 / progress.bytesTotal);
}

namespace {

std::string rateText(const XmodemProgress& progress, double elapsedSeconds) {
    const auto rate = throughput(progress, elapsedSeconds);
    return rate ? formatBytes(static_cast<std::uint64_t>(*rate)) + "/s" : "-- B/s";
}

std::string leftText(const XmodemProgress& progress, double elapsedSeconds) {
    const auto left = secondsLeft(progress, elapsedSeconds);
    return (left ? formatDuration(*left) : std::string("-:--")) + " left";
}

std::string retriesText(unsigned retries) { return std::to_string(retries) + (retries == 1 ? " retry" : " retries"); }

std::string progressBarLine(const XmodemProgress& progress, double elapsedSeconds, int barWidth, bool blocks) {
    const int percent = percentDone(progress);
    const int filled = percent * barWidth / 100;
    std::string line = "[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(barWidth - filled), '.');
    line += "] ";
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    line += number;
    if (blocks)
        line += ' ' + std::to_string(progress.blocksAcked) + '/' + std::to_string(progress.blocksTotal) + " blk";
    line += ' ' + formatBytes(progress.bytesAcked);
    line += ' ' + rateText(progress, elapsedSeconds);
    line += ' ' + retriesText(progress.retries);
    line += ' ' + leftText(progress, elapsedSeconds);
    return line;
}

} // namespace

std::string terminalProgressLine(const XmodemProgress& progress, double elapsedSeconds) {
    return progressBarLine(progress, elapsedSeconds, 20, true);
}

std::string compactProgressLine(const XmodemProgress& progress, double elapsedSeconds) {
    return progressBarLine(progress, elapsedSeconds, 10, false);
}

std::string plainProgressLine(const XmodemProgress& progress, double elapsedSeconds) {
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percentDone(progress));
    std::string line = "Sent ";
    line += number;
    line += ": " + std::to_string(progress.blocksAcked) + '/' + std::to_string(progress.blocksTotal) + " blocks, ";
    line += std::to_string(progress.bytesAcked) + '/' + std::to_string(progress.bytesTotal) + " bytes, ";
    line += rateText(progress, elapsedSeconds) + ", ";
    line += retriesText(progress.retries) + ", ";
    line += leftText(progress, elapsedSeconds);
    return line;
}

std::optional<int> TenthMilestones::reached(const XmodemProgress& progress) {
    if (progress.bytesTotal == 0) return std::nullopt;
    const auto acked = std::min(progress.bytesAcked, progress.bytesTotal);
    const int tenth = static_cast<int>(acked * 10 / progress.bytesTotal);
    if (tenth <= reported_) return std::nullopt;
    reported_ = tenth;
    return tenth;
}

} // namespace qz::cli
