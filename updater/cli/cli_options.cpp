#include "cli_options.h"

#include "exit_codes.h"
#include "serial_transfer_control.h"

#include <charconv>

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
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !(parsed >= min && parsed <= max))
        return false;
    value = parsed;
    return true;
}

} // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& options = result.options;
    std::vector<std::string> operands;
    const auto fail = [&result](std::string message) {
        if (result.error.empty()) result.error = std::move(message);
    };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        // The value of an option that takes one: after "=" or the next argument.
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            fail(name + " needs a value");
            return std::nullopt;
        };
        const auto noValue = [&] {
            if (inlineValue) fail(name + " takes no value");
        };

        if (name == "--timeout") {
            long seconds = 0;
            if (const auto text = value()) {
                if (parseWhole(*text, 1, 254, seconds))
                    options.timeoutSeconds = static_cast<std::uint8_t>(seconds);
                else
                    fail("--timeout takes whole seconds from 1 to 254, not '" + *text + "'");
            }
        } else if (name == "--packet-timeout") {
            double seconds = 0;
            if (const auto text = value()) {
                if (parseSeconds(*text, 0.1, 60, seconds))
                    options.packetTimeoutSeconds = static_cast<float>(seconds);
                else
                    fail("--packet-timeout takes seconds from 0.1 to 60, not '" + *text + "'");
            }
        } else if (name == "--no-wake") {
            noValue();
            options.wake = false;
        } else if (name == "--json") {
            noValue();
            options.json = true;
        } else if (name == "--quiet" || name == "-q") {
            noValue();
            options.quiet = true;
        } else if (name == "--list-ports") {
            noValue();
            options.listPorts = true;
        } else if (name == "--help" || name == "-h") {
            noValue();
            options.help = true;
        } else if (name == "--version" || name == "-V") {
            noValue();
            options.version = true;
        } else {
            fail("unknown option " + name);
        }
    }

    if (!result.ok() || options.help || options.version) return result;
    if (options.listPorts) {
        if (!operands.empty()) fail("--list-ports takes no PORT or FIRMWARE");
        return result;
    }
    if (operands.size() < 2) {
        fail(operands.empty() ? "PORT and FIRMWARE are missing" : "FIRMWARE is missing");
    } else if (operands.size() > 2) {
        fail("too many arguments: '" + operands[2] + "'");
    } else if (operands[0].empty() || operands[1].empty()) {
        fail("PORT and FIRMWARE must not be empty");
    } else {
        options.port = operands[0];
        options.firmware = operands[1];
    }
    return result;
}

std::string usageText() {
    std::string text;
    text += "Usage: qz450-upload [options] PORT FIRMWARE.bin\n";
    text += "       qz450-upload --list-ports\n";
    text += "\n";
    text += "Wakes a QZ450 controller on the serial port PORT, waits for its bootloader and sends\n";
    text += "FIRMWARE.bin with XMODEM: the same sequence and the same bytes on the line as the\n";
    text += "Updater7304 window. PORT is a device path on Linux (/dev/ttyUSB0) and a COM port\n";
    text += "on Windows (COM3, or just 3).\n";
    text += "\n";
    text += "Options:\n";
    text += "  --timeout SECONDS   give up waiting for the bootloader's \"%\" after SECONDS to\n";
    text += "                      SECONDS+1 seconds (1 to 254; default 5, as the window)\n";
    text += "  --no-wake           the controller already waits in its bootloader: skip the\n";
    text += "                      wake-up command and the pause after it, only listen\n";
    text += "  --packet-timeout S  wait S seconds (0.1 to 60, default 1) for the answer to a\n";
    text += "                      block before sending it again (10 tries per block)\n";
    text += "  --json              print one JSON result object on stdout; other output goes\n";
    text += "                      to stderr\n";
    text += "  -q, --quiet         print errors only\n";
    text += "  --list-ports        list the serial ports of this machine and exit\n";
    text += "  -h, --help          show this help and exit\n";
    text += "  -V, --version       show the version and exit\n";
    text += "\n";
    text += "FIRMWARE must be a readable file of 1 to " +
            std::to_string(SerialTransferControl::kMaxImageSize) + " bytes.\n";
    text += "Ctrl-C stops the upload at any point; a running transfer is cancelled (CAN CAN).\n";
    text += "\n";
    text += "Exit codes:\n";
    const auto code = [&text](Outcome outcome, std::string_view meaning) {
        std::string number = std::to_string(exitCode(outcome));
        number.resize(5, ' ');
        text += "  " + number + std::string(meaning) + "\n";
    };
    code(Outcome::success, "success: every block and the end of the transfer acknowledged");
    code(Outcome::internalError, "internal error");
    code(Outcome::usageError, "usage error (bad option or argument)");
    code(Outcome::firmwareUnreadable, "firmware unreadable (missing, a folder, no permission, empty, too large)");
    code(Outcome::portFailed, "port cannot be opened (missing, in use, no permission, not a serial port)");
    code(Outcome::timedOut, "no start character \"%\" from the bootloader within the time-out");
    code(Outcome::transferFailed, "transfer failed (cancelled by the controller, too many errors,");
    text += "       the controller stopped answering, line error)\n";
    code(Outcome::interrupted, "interrupted (Ctrl-C, SIGINT, SIGTERM)");
    return text;
}

} // namespace qz::cli
