#pragma once
// Runs qz450sim for a test: starts it, reads its "PTY <path>" line and its JSON summary lines,
// and stops it. Native builds only (the simulator needs a pty).

#ifndef _WIN32

#include "updater/tests/support/unique_fd.h"

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qz::test {

class SimProcess {
public:
    // The simulator of this build.
    static std::string executable();

    // Starts `executable() args...` and waits up to 10 s for its PTY line; check started().
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess(); // stops it if still running
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return !pty_.empty(); }
    const std::string& pty() const { return pty_; } // slave path, e.g. /dev/pts/7

    // The next stdout line (a summary), or nullopt when none comes within `limit` or the
    // simulator has ended.
    std::optional<std::string> nextLine(std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Exit status once it has ended by itself (128 + signal if killed); nullopt if it is still
    // running after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Sends `signal` (SIGTERM by default) and waits; the exit status.
    int stop(int signal = SIGTERM);

private:
    pid_t pid_ = -1;
    UniqueFd out_; // the simulator's stdout
    std::string buffer_;
    std::string pty_;
    std::optional<int> status_;
};

// The value of a top-level field of a one-line JSON object: strings without quotes, arrays
// without brackets ("9600,57600"), numbers and null as written. Empty optional if missing.
std::optional<std::string> jsonField(const std::string& json, const std::string& name);

// `qz450sim --normalise TRACE` (with --upload when upload > 0): the timing-free form of a
// wire trace, one "RX|TX <baud> <hex>" line each.
std::string normalisedTrace(const std::string& tracePath, long upload = 0);

} // namespace qz::test

#endif
