#include "updater/tests/support/pty_pair.h"

#if !defined(_WIN32)

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qz::test {

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) return;
    master_.reset(master);
    slave_.reset(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
}

bool PtyPair::send(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(master(), text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::string PtyPair::receive(int timeoutMs) {
    std::string text;
    pollfd waiter{master(), POLLIN, 0};
    while (::poll(&waiter, 1, text.empty() ? timeoutMs : 20) > 0 && (waiter.revents & POLLIN)) {
        char chunk[4096];
        const ssize_t got = ::read(master(), chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

} // namespace qz::test

#endif
