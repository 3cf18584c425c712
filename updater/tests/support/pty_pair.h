#pragma once
// A pseudo-terminal for native serial tests: the port under test opens the slave by its path,
// the test (or a child program) talks on the master. POSIX only.

#if !defined(_WIN32)

#include "updater/tests/support/unique_fd.h"

#include <string>

namespace qz::test {

class PtyPair {
public:
    PtyPair();

    bool ok() const { return master_.valid(); }
    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }
    // Closes the master: the slave side sees a hang-up.
    void closeMaster() { master_.reset(); }

    // Writes all of text to the master; reads what is there within timeoutMs.
    bool send(const std::string& text);
    std::string receive(int timeoutMs);

private:
    UniqueFd master_;
    UniqueFd slave_; // held open, so that the master never sees the slave vanish between opens
    std::string slavePath_;
};

} // namespace qz::test

#endif
