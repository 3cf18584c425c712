#include "updater/cli/watched_port.h"

#include <algorithm>
#include <thread>

namespace qz::cli {

PortStatus WatchedPort::open(const std::string& device, const LineSettings& line, const PortOptions& options) {
    PortStatus status = inner_.open(device, line, options);
    if (status.ok()) {
        ahead_.clear();
        lost_ = false;
    }
    return status;
}

void WatchedPort::close() noexcept {
    ahead_.clear();
    inner_.close();
}

ReadResult WatchedPort::readInner(std::span<std::uint8_t> buffer, int timeoutMs) {
    const ReadResult got = inner_.read(buffer, timeoutMs);
    if (got.status == ReadStatus::error && inner_.isOpen()) lost_ = true;
    return got;
}

ReadResult WatchedPort::read(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (ahead_.empty()) return readInner(buffer, timeoutMs);
    const std::size_t count = std::min(ahead_.size(), buffer.size());
    std::copy_n(ahead_.begin(), count, buffer.begin());
    ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(count));
    return {ReadStatus::data, count};
}

PortStatus WatchedPort::discardInput() {
    ahead_.clear();
    return inner_.discardInput();
}

void WatchedPort::waitForInput(std::chrono::milliseconds limit) {
    if (!ahead_.empty()) return;
    if (!inner_.isOpen() || lost_) {
        // Nothing to wait on: a pause, so that the caller's polling does not spin.
        std::this_thread::sleep_for(limit);
        return;
    }
    std::uint8_t chunk[256];
    const auto started = std::chrono::steady_clock::now();
    const ReadResult got = readInner(chunk, static_cast<int>(limit.count()));
    if (got.status == ReadStatus::data) {
        ahead_.insert(ahead_.end(), chunk, chunk + got.count);
    } else if (got.status == ReadStatus::error) {
        std::this_thread::sleep_for(
            limit - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started));
    }
}

} // namespace qz::cli
