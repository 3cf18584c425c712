#include "updater/posix/posix_serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qz {
namespace {

std::optional<speed_t> termiosSpeed(std::uint32_t baud) {
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return std::nullopt; // 14400, 128000, 256000: no termios constant
    }
}

tcflag_t characterSize(int dataBits) {
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

PortErrorKind kindOfOpenError(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return PortErrorKind::noSuchDevice;
    case EBUSY: return PortErrorKind::inUse;
    case EACCES:
    case EPERM:
    case EROFS: return PortErrorKind::accessDenied;
    default: return PortErrorKind::io;
    }
}

// Time the bytes take on the line, with a margin for the driver.
std::chrono::milliseconds lineTime(std::size_t bytes, const LineSettings& line) {
    const auto micros = static_cast<std::uint64_t>(bytes) * characterTimeMicros(line);
    return std::chrono::milliseconds(micros / 1000 + 1);
}

constexpr std::chrono::milliseconds kWriteMargin{2000};
constexpr std::chrono::milliseconds kCloseMargin{100};
constexpr std::chrono::milliseconds kCloseLimit{2000};

} // namespace

PosixSerialPort::PosixSerialPort()
    : PosixSerialPort([](int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }) {}

PosixSerialPort::PosixSerialPort(Ioctl ioctl) : ioctl_(std::move(ioctl)) {}

PosixSerialPort::~PosixSerialPort() { close(); }

PortStatus PosixSerialPort::failure(PortErrorKind kind, const char* operation, int error) const {
    return PortStatus::failure(kind, portErrorMessage(device_, operation, std::strerror(error)));
}

PortStatus PosixSerialPort::open(const std::string& device, const LineSettings& line, const PortOptions& options) {
    if (fd_ >= 0) {
        return PortStatus::failure(PortErrorKind::inUse,
                                   portErrorMessage(device, "open", "this port object is already open on " + device_));
    }
    device_ = device;
    // O_NONBLOCK: neither the open nor any later call waits for carrier.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return failure(kindOfOpenError(error), "open", error);
    }
    if (::tcgetattr(fd, &saved_) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == ENOTTY || error == EINVAL)
            return PortStatus::failure(PortErrorKind::notSerialDevice,
                                       portErrorMessage(device, "open", "not a serial device"));
        return failure(PortErrorKind::io, "open", error);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return PortStatus::failure(PortErrorKind::inUse,
                                       portErrorMessage(device, "open", "in use by another program"));
        return failure(PortErrorKind::io, "open", error);
    }
    fd_ = fd;
    if (PortStatus status = applyLine(line, options.handshaking); !status.ok()) {
        ::tcsetattr(fd_, TCSANOW, &saved_);
        ::close(fd_);
        fd_ = -1;
        return status;
    }
    // Modem lines: a pty has none, and a port that cannot set them still carries data.
    (void)setDtr(options.dtr);
    if (options.handshaking != Handshaking::rtsCts && options.handshaking != Handshaking::rtsCtsAndXonXoff)
        (void)setRts(options.rts);
    askForLowLatency();
    ::tcflush(fd_, TCIFLUSH);
    readError_ = PortStatus{};
    return PortStatus{};
}

// Errors are no concern here: the line works either way, only later.
void PosixSerialPort::askForLowLatency() noexcept {
    lowLatencySet_ = false;
    serial_struct info{};
    if (ioctl_(fd_, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    lowLatencySet_ = ioctl_(fd_, TIOCSSERIAL, &info) == 0;
}

// Read afresh, so that only the one flag goes back to what it was.
void PosixSerialPort::restoreLatency() noexcept {
    if (!lowLatencySet_) return;
    lowLatencySet_ = false;
    serial_struct info{};
    if (ioctl_(fd_, TIOCGSERIAL, &info) != 0) return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl_(fd_, TIOCSSERIAL, &info);
}

PortStatus PosixSerialPort::applyLine(const LineSettings& line, Handshaking handshaking) {
    const auto speed = termiosSpeed(line.baud);
    if (!speed) {
        return PortStatus::failure(
            PortErrorKind::badSettings,
            portErrorMessage(device_, "set line", std::to_string(line.baud) + " baud is not available here"));
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return failure(PortErrorKind::io, "set line", errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD | characterSize(line.dataBits);
    switch (line.parity) {
    case Parity::none: break;
    case Parity::even: tio.c_cflag |= PARENB; break;
    case Parity::odd: tio.c_cflag |= PARENB | PARODD; break;
    case Parity::mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case Parity::space: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    // With 5 data bits the UART sends 1.5 stop bits for CSTOPB.
    if (line.stopBits != StopBits::one) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (handshaking == Handshaking::xonXoff || handshaking == Handshaking::rtsCtsAndXonXoff)
        tio.c_iflag |= IXON | IXOFF;
    if (handshaking == Handshaking::rtsCts || handshaking == Handshaking::rtsCtsAndXonXoff) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return failure(PortErrorKind::badSettings, "set line", errno);
    // tcsetattr succeeds when any one change took; check that the speed did.
    termios applied{};
    if (::tcgetattr(fd_, &applied) != 0) return failure(PortErrorKind::io, "set line", errno);
    if (::cfgetospeed(&applied) != *speed) {
        return PortStatus::failure(
            PortErrorKind::badSettings,
            portErrorMessage(device_, "set line", "the device refused " + std::to_string(line.baud) + " baud"));
    }
    line_ = line;
    handshaking_ = handshaking;
    return PortStatus{};
}

// Gives queued output the time its bytes take on the line, so that a command written just
// before closing still leaves, then drops whatever is left: the close never hangs on flow control.
void PosixSerialPort::drainForClose() noexcept {
    int queued = 0;
    if (ioctl_(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    const auto limit = std::min(lineTime(static_cast<std::size_t>(queued), line_) + kCloseMargin, kCloseLimit);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ioctl_(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void PosixSerialPort::close() noexcept {
    if (fd_ < 0) return;
    drainForClose();
    // Output the drain gave up on is dropped, so that close() does not wait for it. Output
    // already handed over is left alone: on a pty, TCOFLUSH also discards what the other end
    // has not read yet (the wake-up command sent right before a close).
    int queued = 0;
    if (ioctl_(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) ::tcflush(fd_, TCOFLUSH);
    ::tcflush(fd_, TCIFLUSH);
    restoreLatency();
    ::tcsetattr(fd_, TCSANOW, &saved_);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

PortStatus PosixSerialPort::reconfigure(const LineSettings& line) {
    if (fd_ < 0) return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, "set line", "not open"));
    drainForClose(); // queued output leaves at the old settings
    const LineSettings before = line_;
    PortStatus status = applyLine(line, handshaking_);
    if (!status.ok()) (void)applyLine(before, handshaking_);
    return status;
}

PortStatus PosixSerialPort::setHandshaking(Handshaking handshaking) {
    if (fd_ < 0)
        return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, "set handshaking", "not open"));
    return applyLine(line_, handshaking);
}

PortStatus PosixSerialPort::setModemLine(int line, bool raised, const char* name) {
    if (fd_ < 0) return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, name, "not open"));
    if (ioctl_(fd_, raised ? TIOCMBIS : TIOCMBIC, &line) != 0) return failure(PortErrorKind::io, name, errno);
    return PortStatus{};
}

PortStatus PosixSerialPort::setDtr(bool raised) { return setModemLine(TIOCM_DTR, raised, "set DTR"); }
PortStatus PosixSerialPort::setRts(bool raised) { return setModemLine(TIOCM_RTS, raised, "set RTS"); }

PortStatus PosixSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, "write", "not open"));
    const auto deadline = std::chrono::steady_clock::now() + lineTime(bytes.size(), line_) + kWriteMargin;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return failure(PortErrorKind::io, "write", errno);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return PortStatus::failure(PortErrorKind::timedOut,
                                       portErrorMessage(device_, "write", "output held too long"));
        pollfd waiter{fd_, POLLOUT, 0};
        if (::poll(&waiter, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return failure(PortErrorKind::io, "write", errno);
    }
    return PortStatus{};
}

ReadResult PosixSerialPort::read(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (fd_ < 0) {
        readError_ = PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, "read", "not open"));
        return {ReadStatus::error, 0};
    }
    const auto hangUp = [this] {
        readError_ = PortStatus::failure(PortErrorKind::io, portErrorMessage(device_, "read", "the line hung up"));
        return ReadResult{ReadStatus::error, 0};
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        // With VMIN = VTIME = 0 an empty line reads as 0 bytes; poll() tells a hang-up apart.
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got > 0) return {ReadStatus::data, static_cast<std::size_t>(got)};
        if (got < 0 && errno == EIO) return hangUp();
        if (got < 0 && errno != EAGAIN && errno != EINTR) {
            readError_ = failure(PortErrorKind::io, "read", errno);
            return {ReadStatus::error, 0};
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiter{fd_, POLLIN, 0};
        const int ready = ::poll(&waiter, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            readError_ = failure(PortErrorKind::io, "read", errno);
            return {ReadStatus::error, 0};
        }
        if (ready == 0) return {ReadStatus::timedOut, 0};
        if (waiter.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Bytes that came before the hang-up are still handed out.
            const ssize_t last = ::read(fd_, buffer.data(), buffer.size());
            if (last > 0) return {ReadStatus::data, static_cast<std::size_t>(last)};
            return hangUp();
        }
        if (left.count() <= 0) return {ReadStatus::timedOut, 0};
    }
}

PortStatus PosixSerialPort::discardInput() {
    if (fd_ < 0)
        return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, "discard input", "not open"));
    if (::tcflush(fd_, TCIFLUSH) != 0) return failure(PortErrorKind::io, "discard input", errno);
    return PortStatus{};
}

std::vector<std::string> listPosixSerialPorts() {
    namespace fs = std::filesystem;
    std::vector<std::string> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        const bool candidate = name.starts_with("ttyS") || name.starts_with("ttyUSB") || name.starts_with("ttyACM");
        if (!candidate || !fs::exists(entry.path() / "device", ec)) continue;
        const std::string device = "/dev/" + name;
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            // Present but not ours to open (permissions, held): still a port of this machine.
            if (errno == EACCES || errno == EBUSY) ports.push_back(device);
            continue;
        }
        termios tio{};
        bool real = ::tcgetattr(fd, &tio) == 0;
        if (real && name.starts_with("ttyS")) {
            // The 8250 driver lists every legacy slot; only those with a UART found are ports.
            serial_struct info{};
            real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
        }
        ::close(fd);
        if (real) ports.push_back(device);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace qz
