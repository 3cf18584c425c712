#pragma once
// SerialPort over termios: raw 8-bit line, non-blocking descriptor with poll() for the waits.
// Another program's hold on the port is seen through an advisory flock() on the device (no
// TIOCEXCL, which would shut out even root's tools and leaves the port locked if we crash).

#include "serial_port.h"

#include <string>
#include <vector>
#include <termios.h>

namespace qz {

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort() = default;
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    PortStatus open(const std::string& device, const LineSettings& line,
                    const PortOptions& options) override;
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

    int fd_ = -1;
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
