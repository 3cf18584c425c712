#pragma once
// Command line of qz450-upload: options, the two operands, and the help text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

inline constexpr std::string_view kProgramName = "qz450-upload";
// The first line of what a wrong command line prints.
inline constexpr std::string_view kUsageLine = "usage: qz450-upload [options] PORT [PORT...] FIRMWARE.bin";

struct CliOptions {
    // The operands before FIRMWARE, then those of --ports: "/dev/ttyUSB0", "COM3", "3".
    std::vector<std::string> ports;
    std::string firmware; // the last operand: the image to send
    // The wait for "%" gives up when the seconds counter passes this (the window's 5).
    std::uint8_t timeoutSeconds = 5;
    bool timeoutGiven = false;
    bool wake = true;        // --no-wake: the controller already listens
    bool loop = false;       // --loop: station mode, board after board on each port
    unsigned long count = 0; // --count: boards per port before the station ends; 0: until Ctrl-C
    bool json = false;       // one result object on stdout
    bool quiet = false;      // errors only
    bool listPorts = false;
    bool help = false;
    bool version = false;
    // Wait for the answer to an XMODEM block before sending it again (the control's 1 s).
    float packetTimeoutSeconds = 1.0f;
};

struct ParseResult {
    CliOptions options; // what was understood, also on error (json tells how to report it)
    std::string error;  // empty when the command line is valid
    bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. "--" ends the options; "--name=value" and
// "--name value" are both accepted. "--ports" takes a comma-separated list, or a file ("@FILE",
// or any regular file) with one port a line, where blank lines and lines starting with "#"
// are skipped.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The --help text, with the exit codes.
std::string usageText();

} // namespace qz::cli
