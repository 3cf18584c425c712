#pragma once
// SerialPort over termios: raw 8-bit line, non-blocking descriptor with poll() for the waits.
// Another program's hold on the port is seen through an advisory flock() on the device (no
// TIOCEXCL, which would shut out even root's tools and leaves the port locked if we crash).
//
// While open, the port asks the driver for low-latency delivery (ASYNC_LOW_LATENCY through
// TIOCSSERIAL): many USB serial adapters otherwise hold received bytes for up to 16 ms, which
// XMODEM pays once per block while it waits for the ACK. The flag is taken back at close when
// this port set it. A driver that refuses (a pty, a plain UART) is used as it is.

#include "updater/core/serial_port.h"

#include <functional>
#include <string>
#include <termios.h>
#include <vector>

namespace qz {

class PosixSerialPort final : public SerialPort {
public:
    // Every ioctl(2) of an open port goes through this; tests put their own in to see the
    // requests a pty cannot answer.
    using Ioctl = std::function<int(int fd, unsigned long request, void* argument)>;

    PosixSerialPort();
    explicit PosixSerialPort(Ioctl ioctl);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    PortStatus open(const std::string& device, const LineSettings& line, const PortOptions& options) override;
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    const std::string& device() const override { return device_; }

    PortStatus reconfigure(const LineSettings& line) override;
    PortStatus setDtr(bool raised) override;
    PortStatus setRts(bool raised) override;
    PortStatus setHandshaking(Handshaking handshaking) override;

    PortStatus write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override;
    const PortStatus& lastReadError() const override { return readError_; }
    PortStatus discardInput() override;

    int nativeHandle() const { return fd_; }

private:
    PortStatus applyLine(const LineSettings& line, Handshaking handshaking);
    PortStatus setModemLine(int line, bool raised, const char* name);
    PortStatus failure(PortErrorKind kind, const char* operation, int error) const;
    void drainForClose() noexcept;
    void askForLowLatency() noexcept;
    void restoreLatency() noexcept;

    Ioctl ioctl_;
    int fd_ = -1;
    bool lowLatencySet_ = false; // this port turned ASYNC_LOW_LATENCY on
    std::string device_;
    termios saved_{};
    LineSettings line_;
    Handshaking handshaking_ = Handshaking::none;
    PortStatus readError_;
};

// Serial ports of this machine that have a driver behind them: /dev/ttyS*, ttyUSB*, ttyACM*
// listed in /sys/class/tty with a device, ttyS* only when the UART was found. Sorted by name.
std::vector<std::string> listPosixSerialPorts();

} // namespace qz
