#include "updater/sim/pty_line.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace qzsim {

namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

struct SpeedEntry {
    speed_t code;
    unsigned baud;
};

constexpr SpeedEntry kSpeeds[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

} // namespace

PtyLine::PtyLine() {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    char name[256] = {};
    // The slave starts raw at 9600 baud: a client that sets only the speed still gets bytes
    // unchanged (no CR translation, no echo back to the simulator).
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) fail("openpty");
    slavePath_ = name;
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl(O_NONBLOCK)");
    termios master{};
    if (tcgetattr(master_, &master) == 0) {
        cfmakeraw(&master);
        tcsetattr(master_, TCSANOW, &master);
    }
}

PtyLine::~PtyLine() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

unsigned PtyLine::speed() const {
    termios t{};
    if (tcgetattr(slave_, &t) != 0) return 0;
    const speed_t code = cfgetospeed(&t);
    for (const auto& entry : kSpeeds) {
        if (entry.code == code) return entry.baud;
    }
    return 0;
}

void PtyLine::discardClientInput() const { tcflush(slave_, TCIFLUSH); }

int PtyLine::clientUnread() const {
    int count = 0;
    if (ioctl(slave_, TIOCINQ, &count) != 0) return 0;
    return count;
}

ssize_t PtyLine::read(std::uint8_t* buffer, std::size_t size) const { return ::read(master_, buffer, size); }

ssize_t PtyLine::write(const std::uint8_t* data, std::size_t size) const { return ::write(master_, data, size); }

} // namespace qzsim
