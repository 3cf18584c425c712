#pragma once
// SerialPort over the Win32 communications API: "\\.\COMn" opened exclusively, the line from a
// DCB, reads that wait through COMMTIMEOUTS (return at once with what is there, or wait up to
// the timeout for the first byte), driver buffer sizes through SetupComm.

#include "common/win32/handles.h"
#include "updater/core/serial_port.h"

#include <windows.h>
#include <chrono>
#include <string>
#include <vector>

namespace qz {

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort() = default;
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    PortStatus open(const std::string& device, const LineSettings& line, const PortOptions& options) override;
    void close() noexcept override;
    bool isOpen() const override { return handle_.valid(); }
    const std::string& device() const override { return device_; }

    PortStatus reconfigure(const LineSettings& line) override;
    PortStatus setDtr(bool raised) override;
    PortStatus setRts(bool raised) override;
    PortStatus setHandshaking(Handshaking handshaking) override;

    PortStatus write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override;
    const PortStatus& lastReadError() const override { return readError_; }
    PortStatus discardInput() override;

    HANDLE nativeHandle() const { return handle_.get(); }

private:
    PortStatus applyLine(const LineSettings& line, Handshaking handshaking);
    bool setReadTimeout(int timeoutMs);
    PortStatus failure(PortErrorKind kind, const char* operation, DWORD error) const;
    PortStatus notOpen(const char* operation) const;
    // Raises or lowers a modem line (SETDTR or SETRTS, CLRDTR or CLRRTS) and notes it in `state`.
    PortStatus setModemLine(bool raised, DWORD raise, DWORD lower, bool& state, const char* operation);
    void drainForClose() noexcept;
    void waitForLastWrite() const noexcept;

    win32::UniqueFile handle_;
    std::string device_;
    DCB saved_{};
    COMMTIMEOUTS savedTimeouts_{};
    LineSettings line_;
    Handshaking handshaking_ = Handshaking::none;
    bool dtr_ = true;
    bool rts_ = false;
    std::size_t inputBufferSize_ = 1024;
    int readTimeoutSet_ = -1; // the read timeout COMMTIMEOUTS hold now (-1: unknown)
    // When the last byte written will have left the line at the earliest.
    std::chrono::steady_clock::time_point lastWriteOnLine_{};
    PortStatus readError_;
};

// COM ports of this machine from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("COM1", "COM3"), in
// order of their numbers.
std::vector<std::string> listWin32SerialPorts();

} // namespace qz
