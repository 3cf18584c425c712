#pragma once
// A pseudo-terminal for native serial tests: the port under test opens the slave by its path,
// the test (or a child program) talks on the master. POSIX only.

#if !defined(_WIN32)

#include <string>

namespace qz::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Closes the master: the slave side sees a hang-up.
    void closeMaster();
    // Hands the master over (to a child process); this object no longer closes it.
    int releaseMaster();

    // Writes all of text to the master; reads what is there within timeoutMs.
    bool send(const std::string& text);
    std::string receive(int timeoutMs);

private:
    int master_ = -1;
    int slave_ = -1; // held open, so that the master never sees the slave vanish between opens
    std::string slavePath_;
};

} // namespace qz::test

#endif
