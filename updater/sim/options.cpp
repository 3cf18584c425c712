#include "updater/sim/options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace qzsim {

namespace {

// The --help text, section by section; a blank line follows each but the last.

// What the simulator does and how it is started.
constexpr std::string_view kSynopsis = R"(Usage: qz450sim [options]
       qz450sim --normalise TRACE [--upload N]

Simulates the QZ450 bootloader on a pseudo-terminal. The first line on stdout is
"PTY <slave path>"; then one JSON summary line per upload. Diagnostics go to stderr.

Behaviour: asleep until "7*450263" CR arrives at 9600, 57600 or 19200 baud (the
speed is read from the line settings the client gave the pty); then, while the
line is at 57600 baud, "%" every few milliseconds until "{" arrives; then an
XMODEM receive (128-byte SOH and 1K STX blocks, CRC-16 or checksum). When the
line speed changes, bytes the client has not read yet are discarded, as a real
line at a mismatched speed would lose them.
)";

// The options of an upload.
constexpr std::string_view kOptionsText = R"(Options:
  --link PATH            also make PATH a symlink to the slave pty (removed at exit)
  --trace FILE           write the wire trace (format below)
  --out FILE             write each received image (padding kept); "{n}" in FILE
                         is replaced by the upload number
  --count N              serve N uploads, then exit (default 1)
  --forever              serve uploads until stopped (no idle exit unless --timeout)
  --timeout S            exit when nothing arrives for S seconds (default 60; 0 = never)
  --answer-timeout S     woken but no "{" within S s of the last wake-up: the upload
                         ends as "no-answer" (default 8)
  --transfer-timeout S   a transfer with a quiet line for S s ends (default 10)
  --awake                start every upload in the bootloader (no wake-up needed)
  --checksum             ask for checksum mode (NAK) instead of CRC-16 ('C')
  --percent-ms N         interval between "%" (default 10)
  --percent-after-ms N   the first "%" no earlier than N ms after the last wake-up
                         (default 0): with N past the updater's listening pause, each
                         "%" reaches an updater that is already polling
  --request-ms N         repeat of the first request; NAK after a quiet line (default 3000)
  --pace                 emulate the line rate: baud/10 bytes per second each way
  --verbose              print events on stderr
)";

// The faults it can show.
constexpr std::string_view kFaultsText = R"(Faults:
  --silent               wake, but never send anything
  --wrong-speed          send "%" only while the line is NOT at 57600 baud, and
                         take "{" only then
  --bit-errors RATE      flip one bit of a received transfer byte with probability
                         RATE per byte, at most once per exchange (always detectable)
  --drop-ack RATE        leave out an ACK with probability RATE
  --dup-ack RATE         send an ACK twice with probability RATE
  --seed N               seed of the fault generators (default 1)
  --cancel-after N       answer the block after N accepted blocks with CAN CAN
  --stop-after N         stop answering at the block after N accepted blocks
  --flash-delay-ms N     pause after each good block before its ACK
)";

// The summary line it prints per upload.
constexpr std::string_view kSummaryText = R"(Summary line (JSON, one per upload):
  {"upload":1,"outcome":"complete","reason":"","wake_speeds":[9600,57600,19200],
   "listen_speed":57600,"percent_sent":40,"start_to_answer_ms":0.215,"mode":"crc",
   "blocks":3,"blocks_1k":0,"bytes":384,"duplicates":0,"errors":0,"bit_flips":0,
   "transfer_ms":12.5}
  outcome: complete | cancelled (reason: sender, cancel-after, sequence,
  too-many-errors) | stopped (reason: idle, sender) | timeout | abandoned (the line
  speed changed during the transfer) | no-answer (woken, no "{") | no-wake (ended
  before a wake-up) | interrupted (signal). listen_speed and start_to_answer_ms are
  null when no "{" was taken. start_to_answer_ms runs from the last "%" sent to "{".
  bytes counts the received image with its padding.
)";

// The wire trace and its normalised form.
constexpr std::string_view kTraceText = R"(Trace (--trace), one line per chunk, times in seconds since start:
  0.102345 RX 9600 372a3435303236330d    bytes received, line speed, hex
  0.650001 TX 57600 25                   bytes sent
  0.000000 EV upload 1                   events (upload N begins, wake, end ...)
--normalise prints the trace without times and events, without the "%" the
simulator sent (their number depends on timing), with consecutive lines of the
same direction and speed merged: "RX 9600 0d372a3435303236330d". --upload N keeps
only the lines of upload N.
)";

// Its exit status.
constexpr std::string_view kExitText =
    R"(Exit status: 0 the uploads were served (whatever their outcome); 1 system error;
2 usage error; 3 ended by --timeout; 4 stopped by a signal.
)";

} // namespace

const char* usageText() {
    static const std::string text = [] {
        std::string joined;
        for (const std::string_view section : {kSynopsis, kOptionsText, kFaultsText, kSummaryText, kTraceText}) {
            joined.append(section).append("\n"); // a blank line between sections
        }
        return joined.append(kExitText);
    }();
    return text.c_str();
}

namespace {

bool parseLong(const std::string& text, long& value, long min) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= min;
}

bool parseDouble(const std::string& text, double& value, double min, double max) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size() && std::isfinite(value) && value >= min && value <= max;
    } catch (...) {
        return false;
    }
}

// Reads an option's value into its field; false when the value is not valid.
using Reader = std::function<bool(const std::string&)>;

Reader text(std::string& field) {
    return [&field](const std::string& v) {
        field = v;
        return !v.empty();
    };
}

Reader whole(long& field, long min) {
    return [&field, min](const std::string& v) { return parseLong(v, field, min); };
}

Reader real(double& field, double min, double max) {
    return [&field, min, max](const std::string& v) { return parseDouble(v, field, min, max); };
}

// The option was given, whatever its value.
Reader noted(bool& given, Reader read) {
    return [&given, read](const std::string& v) {
        given = true;
        return read(v);
    };
}

std::map<std::string, Reader> valuedOptions(Options& o, bool& countGiven) {
    return {
        {"--link", text(o.link)},
        {"--trace", text(o.trace)},
        {"--out", text(o.out)},
        {"--count", noted(countGiven, whole(o.count, 1))},
        {"--timeout", noted(o.idleTimeoutGiven, real(o.idleTimeoutS, 0, 1e6))},
        {"--answer-timeout", real(o.answerTimeoutS, 0.01, 1e6)},
        {"--transfer-timeout", real(o.transferTimeoutS, 0.01, 1e6)},
        {"--percent-ms", whole(o.percentIntervalMs, 1)},
        {"--percent-after-ms", whole(o.percentAfterMs, 0)},
        {"--request-ms", whole(o.requestIntervalMs, 1)},
        {"--bit-errors", real(o.bitErrorRate, 0, 1)},
        {"--drop-ack", real(o.dropAckRate, 0, 1)},
        {"--dup-ack", real(o.dupAckRate, 0, 1)},
        {"--seed",
         [&o](const std::string& v) {
             long s = 0;
             if (!parseLong(v, s, 0)) return false;
             o.seed = static_cast<std::uint64_t>(s);
             return true;
         }},
        {"--cancel-after", whole(o.cancelAfter, 0)},
        {"--stop-after", whole(o.stopAfter, 0)},
        {"--flash-delay-ms", whole(o.flashDelayMs, 0)},
        {"--normalise", text(o.normalise)},
        {"--upload", whole(o.normaliseUpload, 1)},
    };
}

// Options that exclude each other; --forever serves until stopped, with no idle exit unless --timeout.
bool settle(Options& o, bool forever, bool countGiven, std::string& error) {
    if (forever && countGiven) {
        error = "--count and --forever exclude each other";
        return false;
    }
    if (o.silent && o.wrongSpeed) {
        error = "--silent and --wrong-speed exclude each other";
        return false;
    }
    if (forever) {
        o.count = 0;
        if (!o.idleTimeoutGiven) o.idleTimeoutS = 0;
    }
    return true;
}

} // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error, bool& help) {
    Options o;
    help = false;
    bool forever = false;
    bool countGiven = false;
    const std::map<std::string, bool*> flags = {
        {"--forever", &forever},
        {"--awake", &o.awake},
        {"--checksum", &o.checksum},
        {"--silent", &o.silent},
        {"--wrong-speed", &o.wrongSpeed},
        {"--pace", &o.pace},
        {"--verbose", &o.verbose},
        {"--help", &help},
        {"-h", &help},
    };
    const std::map<std::string, Reader> valued = valuedOptions(o, countGiven);

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        if (auto f = flags.find(name); f != flags.end() && !inlineValue) {
            *f->second = true;
            continue;
        }
        auto v = valued.find(name);
        if (v == valued.end()) {
            error = "unknown option: " + args[i];
            return std::nullopt;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (!v->second(value)) {
            error = "bad value for " + name + ": " + value;
            return std::nullopt;
        }
    }
    if (!settle(o, forever, countGiven, error)) return std::nullopt;
    return o;
}

} // namespace qzsim
