#pragma once
// The --json result: one object on one line, written once at the end of every run.

#include "updater/cli/exit_codes.h"
#include "updater/core/xmodem_sender.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz::cli {

struct RunReport {
    Outcome outcome = Outcome::internalError;
    std::string message;          // the result line shown to the user
    std::string port;             // the port as the user named it ("COM3", "/dev/ttyUSB0")
    std::string firmware;         // the firmware path as given
    std::uint64_t bytesTotal = 0; // size of the image (0 when it could not be read)
    std::size_t blocksTotal = 0;
    std::optional<XmodemProgress> transfer;       // statistics once the transfer has started
    std::optional<TransferStatus> transferStatus; // the control's TransferStatus after SendFile
    double seconds = 0;                           // whole run: port opened to port closed
    std::optional<double> transferSeconds;        // receiver's first request to the end
    std::optional<unsigned long> board;           // station mode: the board's number on its port
};

// A JSON string literal (quotes included). Bytes that are not valid UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

// {"outcome":"success","exit_code":0,"message":"...","port":"...","firmware":"...",
//  "bytes":65536,"bytes_total":65536,"blocks":512,"blocks_total":512,"retries":0,
//  "seconds":12.41,"transfer_seconds":11.9,"mode":"crc16","transfer_status":1000}
// Unknown values are null. In station mode "board":N follows.
std::string jsonResult(const RunReport& report);

} // namespace qz::cli
