// The termios transport on a pty: opening errors by kind, the line it sets and restores,
// reads with a timeout, hang-up, and the port lister.

#include "updater/posix/posix_serial_port.h"

#include "updater/tests/support/pty_pair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qz {
namespace {

const LineSettings k57600{57600, Parity::none, 8, StopBits::one};

termios attributesOf(const std::string& path) {
    termios tio{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path;
    EXPECT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    return tio;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(PosixSerialPort, OpenFailuresSayWhatAndNameThePort) {
    PosixSerialPort port;
    PortStatus status = port.open("/dev/ttyNoSuchPort9", k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::noSuchDevice);
    EXPECT_NE(status.message().find("/dev/ttyNoSuchPort9"), std::string::npos) << status.message();

    status = port.open("/dev/null", k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::notSerialDevice) << status.message();
    EXPECT_NE(status.message().find("/dev/null"), std::string::npos);

    const auto file = std::filesystem::temp_directory_path() / ("qz_not_a_port_" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    status = port.open(file.string(), k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::notSerialDevice);
    std::filesystem::remove(file);

    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(port.open(pty.slavePath(), k57600, {}).ok());
    PosixSerialPort second;
    status = second.open(pty.slavePath(), k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::inUse);
    EXPECT_NE(status.message().find(pty.slavePath()), std::string::npos);
    port.close();
    EXPECT_TRUE(second.open(pty.slavePath(), k57600, {}).ok()) << "free again once closed";

    if (::geteuid() != 0) { // root opens anything
        const auto locked = std::filesystem::temp_directory_path() / ("qz_locked_" + std::to_string(::getpid()));
        std::ofstream(locked) << "x";
        ::chmod(locked.string().c_str(), 0);
        EXPECT_EQ(PosixSerialPort().open(locked.string(), k57600, {}).kind(), PortErrorKind::accessDenied);
        std::filesystem::remove(locked);
    }
}

TEST(PosixSerialPort, SetsARawLineAndRestoresTheOldOneOnClose) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const termios before = attributesOf(pty.slavePath());

    // A pty keeps speed, stop bits and flow control; it forces 8 data bits without parity.
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {19200, Parity::none, 8, StopBits::two}, {}).ok());
    termios during = attributesOf(pty.slavePath());
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B19200));
    EXPECT_TRUE(during.c_cflag & CSTOPB);
    EXPECT_TRUE(during.c_cflag & CLOCAL);
    EXPECT_FALSE(during.c_lflag & (ICANON | ECHO | ISIG));

    ASSERT_TRUE(port.reconfigure({115200, Parity::none, 8, StopBits::one}).ok());
    during = attributesOf(pty.slavePath());
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B115200));
    EXPECT_FALSE(during.c_cflag & CSTOPB);
    EXPECT_EQ(port.reconfigure({14400, Parity::none, 8, StopBits::one}).kind(), PortErrorKind::badSettings);
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B115200)) << "a refused speed leaves the line";

    ASSERT_TRUE(port.setHandshaking(Handshaking::rtsCtsAndXonXoff).ok());
    during = attributesOf(pty.slavePath());
    EXPECT_TRUE(during.c_cflag & CRTSCTS);
    EXPECT_TRUE(during.c_iflag & IXON);

    port.close();
    const termios after = attributesOf(pty.slavePath());
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
}

TEST(PosixSerialPort, UnsupportedSpeedIsRefusedAtOpen) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort port;
    const PortStatus status = port.open(pty.slavePath(), {256000, Parity::none, 8, StopBits::one}, {});
    EXPECT_EQ(status.kind(), PortErrorKind::badSettings);
    EXPECT_FALSE(port.isOpen());
}

TEST(PosixSerialPort, WritesReadsWithTimeoutAndDiscards) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), k57600, {}).ok());

    ASSERT_TRUE(port.write(bytesOf("7*450263\r")).ok());
    EXPECT_EQ(pty.receive(1000), "7*450263\r");

    std::uint8_t buffer[64];
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::timedOut);
    EXPECT_EQ(port.read(buffer, 30).status, ReadStatus::timedOut);

    ASSERT_TRUE(pty.send("%{"));
    const ReadResult got = port.read(buffer, 1000);
    ASSERT_EQ(got.status, ReadStatus::data);
    std::string text(reinterpret_cast<char*>(buffer), got.count);
    if (text.size() < 2) {
        const ReadResult more = port.read(buffer, 1000);
        ASSERT_EQ(more.status, ReadStatus::data);
        text.append(reinterpret_cast<char*>(buffer), more.count);
    }
    EXPECT_EQ(text, "%{");

    ASSERT_TRUE(pty.send("stale"));
    ::usleep(20000);
    ASSERT_TRUE(port.discardInput().ok());
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::timedOut);

    // Output nobody reads does not hold the close.
    std::string lots(3000, 'x');
    ASSERT_TRUE(port.write(bytesOf(lots)).ok());
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::error);
    EXPECT_EQ(port.lastReadError().kind(), PortErrorKind::notOpen);
    EXPECT_EQ(port.write(bytesOf("x")).kind(), PortErrorKind::notOpen);
}

TEST(PosixSerialPort, HangUpIsAReadError) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), k57600, {}).ok());
    pty.closeMaster();
    std::uint8_t buffer[16];
    EXPECT_EQ(port.read(buffer, 200).status, ReadStatus::error);
    EXPECT_EQ(port.lastReadError().kind(), PortErrorKind::io);
}

// A driver behind the ioctl seam that keeps serial_struct flags (a pty refuses TIOCGSERIAL);
// every other request goes to the real pty.
struct FlagDriver {
    bool answers = true;
    int flags = ASYNC_SKIP_TEST;
    std::vector<int> setFlags; // the flags of each TIOCSSERIAL, in order

    PosixSerialPort::Ioctl ioctl() {
        return [this](int fd, unsigned long request, void* argument) {
            if (request != TIOCGSERIAL && request != TIOCSSERIAL) return ::ioctl(fd, request, argument);
            if (!answers) {
                errno = ENOTTY;
                return -1;
            }
            auto& info = *static_cast<serial_struct*>(argument);
            if (request == TIOCGSERIAL) {
                info = serial_struct{};
                info.flags = flags;
            } else {
                flags = info.flags;
                setFlags.push_back(info.flags);
            }
            return 0;
        };
    }
};

TEST(PosixSerialPort, AsksForLowLatencyWhileOpenAndGivesItBack) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());

    FlagDriver driver;
    PosixSerialPort port(driver.ioctl());
    ASSERT_TRUE(port.open(pty.slavePath(), k57600, {}).ok());
    EXPECT_EQ(driver.flags, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY);
    // Something else changes another flag while the port is open: only ours goes back.
    driver.flags |= ASYNC_SPD_HI;
    port.close();
    EXPECT_EQ(driver.flags, ASYNC_SKIP_TEST | ASYNC_SPD_HI);
    EXPECT_EQ(driver.setFlags.size(), 2u);

    // Already low latency: left alone, and left on at close.
    FlagDriver lowAlready;
    lowAlready.flags = ASYNC_LOW_LATENCY;
    PosixSerialPort second(lowAlready.ioctl());
    ASSERT_TRUE(second.open(pty.slavePath(), k57600, {}).ok());
    second.close();
    EXPECT_TRUE(lowAlready.setFlags.empty());
    EXPECT_EQ(lowAlready.flags, ASYNC_LOW_LATENCY);

    // A driver that refuses: the port opens and works all the same, as on a real pty.
    FlagDriver refusing;
    refusing.answers = false;
    PosixSerialPort third(refusing.ioctl());
    ASSERT_TRUE(third.open(pty.slavePath(), k57600, {}).ok());
    ASSERT_TRUE(third.write(bytesOf("ok")).ok());
    EXPECT_EQ(pty.receive(1000), "ok");
    third.close();
    PosixSerialPort plain;
    EXPECT_TRUE(plain.open(pty.slavePath(), k57600, {}).ok());
}

TEST(PosixSerialPort, ListerNamesOnlyCharacterDevicesOfSerialDrivers) {
    for (const std::string& device : listPosixSerialPorts()) {
        const std::string name = device.substr(device.find_last_of('/') + 1);
        EXPECT_TRUE(name.starts_with("ttyS") || name.starts_with("ttyUSB") || name.starts_with("ttyACM")) << device;
        struct stat info {};
        ASSERT_EQ(::stat(device.c_str(), &info), 0) << device;
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
    }
}

} // namespace
} // namespace qz
