#include "updater/cli/cli_options.h"

#include "updater/cli/exit_codes.h"
#include "updater/core/serial_transfer_control.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace qz::cli {

namespace {

bool parseWhole(std::string_view text, long min, long max, long& value) {
    long parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc{} || end != text.data() + text.size() || parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

// A decimal number of seconds ("0.5", "2"); no sign, no exponent.
bool parseSeconds(std::string_view text, double min, double max, double& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    double parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !(parsed >= min && parsed <= max)) return false;
    value = parsed;
    return true;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(begin, end - begin + 1));
}

// The ports of a --ports value, or an error.
bool readPortList(const std::string& value, std::vector<std::string>& ports, std::string& error) {
    namespace fs = std::filesystem;
    std::string path;
    if (value.starts_with("@")) {
        path = value.substr(1);
    } else {
        std::error_code ec;
        if (fs::is_regular_file(fs::path(value), ec)) path = value;
    }
    if (!path.empty()) {
        std::ifstream in(fs::path(path), std::ios::binary);
        if (!in) {
            error = "--ports: cannot read " + path;
            return false;
        }
        for (std::string line; std::getline(in, line);) {
            const std::string port = trimmed(line);
            if (!port.empty() && !port.starts_with("#")) ports.push_back(port);
        }
        return true;
    }
    for (std::size_t begin = 0;;) {
        const auto comma = value.find(',', begin);
        const std::string port = trimmed(std::string_view(value).substr(begin, comma - begin));
        if (port.empty()) {
            error = "--ports has an empty entry in '" + value + "'";
            return false;
        }
        ports.push_back(port);
        if (comma == std::string::npos) return true;
        begin = comma + 1;
    }
}

// The command line as it is read: the options, the operands, and what the checks after the options
// need to know.
struct Reading {
    ParseResult result;
    std::vector<std::string> operands;
    std::vector<std::string> listed; // from --ports
    bool portsGiven = false;
    bool countGiven = false;

    CliOptions& options() { return result.options; }
    // The first error is the one reported; reading goes on, so that --json is still understood.
    void fail(std::string message) {
        if (result.error.empty()) result.error = std::move(message);
    }
};

// An option without a value: the field it sets, and to what.
struct Flag {
    std::string_view name;
    std::string_view shortName; // empty when there is none
    bool CliOptions::*field;
    bool value;
};

constexpr Flag kFlags[] = {
    {"--loop", "", &CliOptions::loop, true},
    {"--no-wake", "", &CliOptions::wake, false},
    {"--json", "", &CliOptions::json, true},
    {"--quiet", "-q", &CliOptions::quiet, true},
    {"--list-ports", "", &CliOptions::listPorts, true},
    {"--help", "-h", &CliOptions::help, true},
    {"--version", "-V", &CliOptions::version, true},
};

void readTimeout(Reading& reading, const std::string& text) {
    long seconds = 0;
    reading.options().timeoutGiven = true;
    if (parseWhole(text, 1, 254, seconds))
        reading.options().timeoutSeconds = static_cast<std::uint8_t>(seconds);
    else
        reading.fail("--timeout takes whole seconds from 1 to 254, not '" + text + "'");
}

void readPorts(Reading& reading, const std::string& text) {
    reading.portsGiven = true;
    std::string error;
    if (!readPortList(text, reading.listed, error)) reading.fail(error);
}

void readCount(Reading& reading, const std::string& text) {
    long boards = 0;
    reading.countGiven = true;
    if (parseWhole(text, 1, 1000000, boards))
        reading.options().count = static_cast<unsigned long>(boards);
    else
        reading.fail("--count takes a number of boards from 1 to 1000000, not '" + text + "'");
}

void readPacketTimeout(Reading& reading, const std::string& text) {
    double seconds = 0;
    if (parseSeconds(text, 0.1, 60, seconds))
        reading.options().packetTimeoutSeconds = static_cast<float>(seconds);
    else
        reading.fail("--packet-timeout takes seconds from 0.1 to 60, not '" + text + "'");
}

// An option that takes a value ("--name=value" or "--name value"), and what reads the value.
struct Valued {
    std::string_view name;
    void (*read)(Reading&, const std::string&);
};

constexpr Valued kValued[] = {
    {"--timeout", readTimeout},
    {"--ports", readPorts},
    {"--count", readCount},
    {"--packet-timeout", readPacketTimeout},
};

// The option args[at] (it begins with '-' and is not "--"); moves `at` past a value given as the next
// argument.
void readOption(Reading& reading, const std::vector<std::string>& args, std::size_t& at) {
    const std::string& arg = args[at];
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
    }
    for (const Flag& flag : kFlags) {
        if (name != flag.name && name != flag.shortName) continue;
        if (inlineValue) reading.fail(name + " takes no value");
        reading.options().*flag.field = flag.value;
        return;
    }
    for (const Valued& option : kValued) {
        if (name != option.name) continue;
        if (inlineValue)
            option.read(reading, *inlineValue);
        else if (at + 1 < args.size())
            option.read(reading, args[++at]);
        else
            reading.fail(name + " needs a value");
        return;
    }
    reading.fail("unknown option " + name);
}

// The options that go with --loop only, or not with it.
void checkStationOptions(Reading& reading) {
    const CliOptions& options = reading.options();
    if (options.loop && options.wake) {
        reading.fail(
            "--loop needs --no-wake: the wake-up command would wake the controller just flashed and flash it again");
    } else if (options.loop && options.timeoutGiven) {
        reading.fail("--timeout does not go with --loop: a station waits for each controller as long as it takes");
    } else if (reading.countGiven && !options.loop) {
        reading.fail("--count goes with --loop only");
    }
}

// FIRMWARE is the last operand; the ports are the operands before it, then those of --ports.
void readOperands(Reading& reading) {
    CliOptions& options = reading.options();
    std::vector<std::string>& operands = reading.operands;
    if (options.listPorts) {
        if (!operands.empty() || reading.portsGiven) reading.fail("--list-ports takes no PORT or FIRMWARE");
        return;
    }
    if (operands.empty())
        return reading.fail(reading.portsGiven ? "FIRMWARE is missing" : "PORT and FIRMWARE are missing");
    if (operands.size() < 2 && !reading.portsGiven) return reading.fail("FIRMWARE is missing");
    options.firmware = operands.back();
    operands.pop_back();
    options.ports = operands;
    options.ports.insert(options.ports.end(), reading.listed.begin(), reading.listed.end());
    if (options.firmware.empty() || options.ports.empty() ||
        std::find(options.ports.begin(), options.ports.end(), std::string()) != options.ports.end()) {
        reading.fail(options.ports.empty() ? "--ports names no port" : "PORT and FIRMWARE must not be empty");
    } else {
        checkStationOptions(reading);
    }
}

} // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    Reading reading;
    bool optionsEnded = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-')
            reading.operands.push_back(arg);
        else if (arg == "--")
            optionsEnded = true;
        else
            readOption(reading, args, at);
    }
    const CliOptions& options = reading.options();
    if (reading.result.ok() && !options.help && !options.version) readOperands(reading);
    return std::move(reading.result);
}

std::string usageText() {
    std::string text;
    text += "Usage: qz450-upload [options] PORT [PORT...] FIRMWARE.bin\n";
    text += "       qz450-upload --loop --no-wake [options] PORT [PORT...] FIRMWARE.bin\n";
    text += "       qz450-upload --list-ports\n";
    text += "\n";
    text += "Wakes a QZ450 controller on the serial port PORT, waits for its bootloader and sends\n";
    text += "FIRMWARE.bin with XMODEM: the same sequence and the same bytes on the line as the\n";
    text += "Updater7304 window. PORT is a device path on Linux (/dev/ttyUSB0) and a COM port\n";
    text += "on Windows (COM3, or just 3). With several ports, each one gets the whole\n";
    text += "upload at the same time, on its own: a port that fails stops none of the others.\n";
    text += "\n";
    text += "Options:\n";
    text += "  --ports LIST        more ports: a comma-separated list, or a file (@FILE, or\n";
    text += "                      any regular file) with one port a line (# for comments)\n";
    text += "  --timeout SECONDS   give up waiting for the bootloader's \"%\" after SECONDS to\n";
    text += "                      SECONDS+1 seconds (1 to 254; default 5, as the window)\n";
    text += "  --no-wake           the controller already waits in its bootloader: skip the\n";
    text += "                      wake-up command and the pause after it, only listen\n";
    text += "  --loop              station mode (needs --no-wake): on each port, wait for a\n";
    text += "                      controller that starts its bootloader, send it the image,\n";
    text += "                      then wait for the next one, until Ctrl-C; a port that goes\n";
    text += "                      away is waited for\n";
    text += "  --count N           with --loop: end after N boards on each port\n";
    text += "  --packet-timeout S  wait S seconds (0.1 to 60, default 1) for the answer to a\n";
    text += "                      block before sending it again (10 tries per block)\n";
    text += "  --json              print JSON Lines on stdout: one result object per port, or\n";
    text += "                      with --loop one per board; other output goes to stderr\n";
    text += "  -q, --quiet         print errors only\n";
    text += "  --list-ports        list the serial ports of this machine and exit\n";
    text += "  -h, --help          show this help and exit\n";
    text += "  -V, --version       show the version and exit\n";
    text += "\n";
    text += "FIRMWARE must be a readable file of 1 to " + std::to_string(SerialTransferControl::kMaxImageSize) +
            " bytes.\n";
    text += "Ctrl-C stops the upload at any point, on every port; a running transfer is\n";
    text += "cancelled (CAN CAN).\n";
    text += "\n";
    text += "Exit codes (with several ports: 0 when all succeeded, else the code the failures\n";
    text += "share, else 7):\n";
    const auto code = [&text](Outcome outcome, std::string_view meaning) {
        std::string number = std::to_string(exitCode(outcome));
        number.resize(5, ' ');
        text += "  " + number + std::string(meaning) + "\n";
    };
    code(Outcome::success, "success: every block and the end of the transfer acknowledged");
    code(Outcome::internalError, "internal error");
    code(Outcome::usageError, "usage error (bad option or argument, a port given twice)");
    code(Outcome::firmwareUnreadable, "firmware unreadable (missing, a folder, no permission, empty, too large)");
    code(Outcome::portFailed, "port cannot be opened (missing, in use, no permission, not a serial port)");
    code(Outcome::timedOut, "no start character \"%\" from the bootloader within the time-out");
    code(Outcome::transferFailed, "transfer failed (cancelled by the controller, too many errors,");
    text += "       the controller stopped answering, line error)\n";
    code(Outcome::mixedFailures, "several ports (or boards) failed, not all in the same way");
    code(Outcome::interrupted, "interrupted (Ctrl-C, SIGINT, SIGTERM)");
    return text;
}

} // namespace qz::cli
