#pragma once
// Command line of qz450-upload: options, the two operands, and the help text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

inline constexpr std::string_view kProgramName = "qz450-upload";

struct CliOptions {
    std::string port;     // operand 1: "/dev/ttyUSB0", "COM3", "3"
    std::string firmware; // operand 2: the image to send
    // The wait for "%" gives up when the seconds counter passes this (the window's 5).
    std::uint8_t timeoutSeconds = 5;
    bool wake = true;        // --no-wake: the controller already listens
    bool json = false;       // one result object on stdout
    bool quiet = false;      // errors only
    bool listPorts = false;
    bool help = false;
    bool version = false;
    // Wait for the answer to an XMODEM block before sending it again (the control's 1 s).
    float packetTimeoutSeconds = 1.0f;
};

struct ParseResult {
    CliOptions options;   // what was understood, also on error (json tells how to report it)
    std::string error;    // empty when the command line is valid
    bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. "--" ends the options; "--name=value" and
// "--name value" are both accepted.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The --help text, with the exit codes.
std::string usageText();

} // namespace qz::cli
