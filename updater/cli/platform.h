#pragma once
// What the tool needs from the system it runs on; one implementation per platform
// (posix/platform.cpp, win32/platform.cpp), chosen at build time.

#include "updater/core/serial_port.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

// A port named on the command line.
struct PortName {
    std::string device;       // what the transport opens ("/dev/ttyUSB0", "\\.\COM3")
    std::string label;        // what the user calls it ("/dev/ttyUSB0", "COM3")
    std::int16_t comPort = 1; // the window's port number (1 where the name has none)
    // Equal for two names of one port ("COM3" and "3"; two links to one device).
    std::string identity;
};

enum class Stream { out, err };

class Platform {
public:
    virtual ~Platform() = default;
    virtual void write(Stream stream, std::string_view text) = 0;
    // True when the stream is an interactive terminal or console (progress is redrawn).
    virtual bool isTerminal(Stream stream) = 0;
    // The device behind PORT, or empty with the reason. A port that does not exist (yet) is
    // named all the same: opening it tells.
    virtual std::optional<PortName> resolvePort(const std::string& port, std::string& error) = 0;
    // The serial ports of this machine, as PORT would name them.
    virtual std::vector<std::string> listPorts() = 0;
    virtual std::unique_ptr<SerialPort> makeSerialPort() = 0;
    // Ctrl-C and its kin call raiseInterrupt() from now on.
    virtual void installInterruptHandlers() = 0;
};

std::unique_ptr<Platform> makePlatform();

} // namespace qz::cli
