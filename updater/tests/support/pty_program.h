#pragma once
// Runs a program (lrzsz's rx or sx) as the far end of a serial line: the port under test opens
// a pty slave, and a relay copies between the pty master and the program's standard input and
// output (a socket, so that whatever the program does to its terminal cannot touch our side).
// The relay can pace each direction like a UART at a given byte rate. POSIX only.

#if !defined(_WIN32)

#include "updater/tests/support/pty_pair.h"

#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace qz::test {

class PtyProgram {
public:
    // bytesPerSecond 0: no pacing. The program's standard error goes to errorLog.
    PtyProgram(std::vector<std::string> argv, const std::string& workingDirectory, const std::string& errorLog,
               double bytesPerSecond = 0);
    ~PtyProgram();
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    bool started() const { return child_ > 0; }
    const std::string& slavePath() const { return pty_.slavePath(); }
    // Waits for the program to end: its exit status, or 128 + signal.
    int wait();

private:
    void relay(int from, int to);

    PtyPair pty_;
    UniqueFd socket_;   // our end of the program's standard input and output
    UniqueFd stopRead_; // written once: the relays end
    UniqueFd stopWrite_;
    pid_t child_ = -1;
    double bytesPerSecond_;
    std::thread toProgram_;
    std::thread fromProgram_;
};

} // namespace qz::test

#endif
