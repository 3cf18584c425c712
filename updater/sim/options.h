#pragma once
// Command-line options of qz450sim.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qzsim {

struct Options {
    std::string link;         // symlink to the slave pty, made at start, removed at exit
    std::string trace;        // wire trace file
    std::string out;          // received image; "{n}" is replaced by the upload number
    long count = 1;           // uploads to serve; 0 = forever
    double idleTimeoutS = 60; // exit when nothing arrives for this long; 0 = never
    bool idleTimeoutGiven = false;
    double answerTimeoutS = 8;     // woken, no "{" within this time after the last wake-up
    double transferTimeoutS = 10;  // quiet line during a transfer ends it
    bool awake = false;            // every upload starts in the bootloader (no wake-up needed)
    bool checksum = false;         // first request NAK (checksum) instead of 'C' (CRC-16)
    long percentIntervalMs = 10;   // "%" repeat interval
    long percentAfterMs = 0;       // no "%" earlier than this after the last wake-up
    long requestIntervalMs = 3000; // repeat of the first request, and NAK on a quiet line
    bool silent = false;
    bool wrongSpeed = false;
    double bitErrorRate = 0; // per received byte of the transfer, at most one per exchange
    double dropAckRate = 0;
    double dupAckRate = 0;
    std::uint64_t seed = 1;
    long cancelAfter = -1;    // answer block N+1 with CAN CAN
    long stopAfter = -1;      // go deaf at block N+1
    long flashDelayMs = 0;    // pause between a good block and its ACK
    bool pace = false;        // emulate the line rate (baud / 10 bytes per second)
    bool verbose = false;     // events on stderr
    std::string normalise;    // print the normalised form of this trace and exit
    long normaliseUpload = 0; // only this upload of the trace (0 = all)
};

// Parses argv. On error returns nullopt and sets error; on --help sets help.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error, bool& help);

const char* usageText();

} // namespace qzsim
