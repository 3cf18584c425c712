#pragma once
// The byte-level serial port: one device, opened with line settings, read with a timeout.
// Implemented over termios (posix/) and over the Win32 communications API (win32/); tests use
// fakes. Every failure carries a kind, so that callers can tell a missing port from one in use
// or from a line that failed, and a message that names the port.

#include "updater/core/byte_channel.h"
#include "updater/core/line_settings.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace qz {

enum class PortErrorKind {
    none,
    noSuchDevice,    // no device by that name
    inUse,           // another program holds it
    accessDenied,    // exists, but this user may not open it
    notSerialDevice, // the name is a file or a device that is no serial port
    badSettings,     // the device refused the line settings or the option
    notOpen,         // the operation needs an open port
    timedOut,        // a write could not finish in its time (e.g. held by flow control)
    io,              // any other failure of the device
};

// Success, or a failure with its kind and a message naming the port.
class [[nodiscard]] PortStatus {
public:
    PortStatus() = default; // success
    static PortStatus failure(PortErrorKind kind, std::string message) {
        PortStatus status;
        status.kind_ = kind;
        status.message_ = std::move(message);
        return status;
    }

    bool ok() const { return kind_ == PortErrorKind::none; }
    PortErrorKind kind() const { return kind_; }
    const std::string& message() const { return message_; }

private:
    PortErrorKind kind_ = PortErrorKind::none;
    std::string message_;
};

// Flow control, numbered as the transfer control's Handshaking value.
enum class Handshaking { none = 0, xonXoff = 1, rtsCts = 2, rtsCtsAndXonXoff = 3 };

// What a port is opened with besides its line settings.
struct PortOptions {
    Handshaking handshaking = Handshaking::none;
    bool dtr = true;                    // DTR raised while open
    bool rts = false;                   // RTS raised while open (ignored while RTS/CTS handshaking drives it)
    std::size_t inputBufferSize = 1024; // driver buffer sizes where the system lets us choose
    std::size_t outputBufferSize = 512;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device ("\\.\COM3", "/dev/ttyUSB0") and sets the line. Fails on an open port.
    virtual PortStatus open(const std::string& device, const LineSettings& line, const PortOptions& options) = 0;
    // Closes the port and restores the line as it was before opening. Output still queued gets
    // a bounded time to leave (the time its bytes take on the line plus a margin), then is
    // dropped: close never blocks for long. Closing a closed port does nothing.
    virtual void close() noexcept = 0;
    virtual bool isOpen() const = 0;
    // The device name given to the last successful open.
    virtual const std::string& device() const = 0;

    // Sets new line settings on the open port. Output still queued first gets the time its
    // bytes take on the line at the old settings (bounded as in close()).
    virtual PortStatus reconfigure(const LineSettings& line) = 0;
    virtual PortStatus setDtr(bool raised) = 0;
    virtual PortStatus setRts(bool raised) = 0;
    virtual PortStatus setHandshaking(Handshaking handshaking) = 0;

    // Writes every byte, waiting as long as the bytes take on the line (plus a margin); fails
    // with timedOut when flow control holds the output longer.
    virtual PortStatus write(std::span<const std::uint8_t> bytes) = 0;
    // Waits up to timeoutMs (0: does not wait) and returns at once when input is there.
    // ReadStatus::error comes with the reason in lastReadError().
    virtual ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) = 0;
    virtual const PortStatus& lastReadError() const = 0;
    virtual PortStatus discardInput() = 0;
};

// Text for a failure of `operation` on `device` from the system's own words.
inline std::string portErrorMessage(const std::string& device, std::string_view operation, std::string_view reason) {
    std::string message = "serial port ";
    message += device;
    message += ": ";
    message.append(operation);
    message += ": ";
    message.append(reason);
    return message;
}

} // namespace qz
