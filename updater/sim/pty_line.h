#pragma once
// The simulator's end of the serial line: a pty pair whose master the simulator reads and
// writes. The simulator keeps a slave descriptor open too, so the pty survives a client that
// closes and reopens the port by path, and reads the client's line settings through it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace qzsim {

class PtyLine {
public:
    PtyLine(); // throws std::system_error
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Output speed the client set on the slave, in baud (0 when hung up or unknown).
    unsigned speed() const;

    // Discards what the simulator sent that the client has not read yet.
    void discardClientInput() const;
    // Bytes the simulator sent that the client has not read yet.
    int clientUnread() const;

    // Non-blocking; return what read(2)/write(2) return. A read also waits for bytes the
    // client has written that the kernel is still handing over to the master.
    ssize_t read(std::uint8_t* buffer, std::size_t size) const;
    ssize_t write(const std::uint8_t* data, std::size_t size) const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace qzsim
