#include "updater/sim/options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace qzsim {

const char* usageText() {
    return R"(Usage: qz450sim [options]
       qz450sim --normalise TRACE [--upload N]

Simulates the QZ450 bootloader on a pseudo-terminal. The first line on stdout is
"PTY <slave path>"; then one JSON summary line per upload. Diagnostics go to stderr.

Behaviour: asleep until "7*450263" CR arrives at 9600, 57600 or 19200 baud (the
speed is read from the line settings the client gave the pty); then, while the
line is at 57600 baud, "%" every few milliseconds until "{" arrives; then an
XMODEM receive (128-byte SOH and 1K STX blocks, CRC-16 or checksum). When the
line speed changes, bytes the client has not read yet are discarded, as a real
line at a mismatched speed would lose them.

Options:
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

Faults:
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

Summary line (JSON, one per upload):
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

Trace (--trace), one line per chunk, times in seconds since start:
  0.102345 RX 9600 372a3435303236330d    bytes received, line speed, hex
  0.650001 TX 57600 25                   bytes sent
  0.000000 EV upload 1                   events (upload N begins, wake, end ...)
--normalise prints the trace without times and events, without the "%" the
simulator sent (their number depends on timing), with consecutive lines of the
same direction and speed merged: "RX 9600 0d372a3435303236330d". --upload N keeps
only the lines of upload N.

Exit status: 0 the uploads were served (whatever their outcome); 1 system error;
2 usage error; 3 ended by --timeout; 4 stopped by a signal.
)";
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

} // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error, bool& help) {
    Options o;
    help = false;
    bool forever = false;
    bool countGiven = false;

    using Flag = std::function<void()>;
    using Valued = std::function<bool(const std::string&)>;
    const std::map<std::string, Flag> flags = {
        {"--forever", [&] { forever = true; }},
        {"--awake", [&] { o.awake = true; }},
        {"--checksum", [&] { o.checksum = true; }},
        {"--silent", [&] { o.silent = true; }},
        {"--wrong-speed", [&] { o.wrongSpeed = true; }},
        {"--pace", [&] { o.pace = true; }},
        {"--verbose", [&] { o.verbose = true; }},
        {"--help", [&] { help = true; }},
        {"-h", [&] { help = true; }},
    };
    const std::map<std::string, Valued> valued = {
        {"--link",
         [&](const std::string& v) {
             o.link = v;
             return !v.empty();
         }},
        {"--trace",
         [&](const std::string& v) {
             o.trace = v;
             return !v.empty();
         }},
        {"--out",
         [&](const std::string& v) {
             o.out = v;
             return !v.empty();
         }},
        {"--count",
         [&](const std::string& v) {
             countGiven = true;
             return parseLong(v, o.count, 1);
         }},
        {"--timeout",
         [&](const std::string& v) {
             o.idleTimeoutGiven = true;
             return parseDouble(v, o.idleTimeoutS, 0, 1e6);
         }},
        {"--answer-timeout", [&](const std::string& v) { return parseDouble(v, o.answerTimeoutS, 0.01, 1e6); }},
        {"--transfer-timeout", [&](const std::string& v) { return parseDouble(v, o.transferTimeoutS, 0.01, 1e6); }},
        {"--percent-ms", [&](const std::string& v) { return parseLong(v, o.percentIntervalMs, 1); }},
        {"--percent-after-ms", [&](const std::string& v) { return parseLong(v, o.percentAfterMs, 0); }},
        {"--request-ms", [&](const std::string& v) { return parseLong(v, o.requestIntervalMs, 1); }},
        {"--bit-errors", [&](const std::string& v) { return parseDouble(v, o.bitErrorRate, 0, 1); }},
        {"--drop-ack", [&](const std::string& v) { return parseDouble(v, o.dropAckRate, 0, 1); }},
        {"--dup-ack", [&](const std::string& v) { return parseDouble(v, o.dupAckRate, 0, 1); }},
        {"--seed",
         [&](const std::string& v) {
             long s = 0;
             if (!parseLong(v, s, 0)) return false;
             o.seed = static_cast<std::uint64_t>(s);
             return true;
         }},
        {"--cancel-after", [&](const std::string& v) { return parseLong(v, o.cancelAfter, 0); }},
        {"--stop-after", [&](const std::string& v) { return parseLong(v, o.stopAfter, 0); }},
        {"--flash-delay-ms", [&](const std::string& v) { return parseLong(v, o.flashDelayMs, 0); }},
        {"--normalise",
         [&](const std::string& v) {
             o.normalise = v;
             return !v.empty();
         }},
        {"--upload", [&](const std::string& v) { return parseLong(v, o.normaliseUpload, 1); }},
    };

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
            f->second();
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
    if (forever && countGiven) {
        error = "--count and --forever exclude each other";
        return std::nullopt;
    }
    if (o.silent && o.wrongSpeed) {
        error = "--silent and --wrong-speed exclude each other";
        return std::nullopt;
    }
    if (forever) {
        o.count = 0;
        if (!o.idleTimeoutGiven) o.idleTimeoutS = 0;
    }
    return o;
}

} // namespace qzsim
