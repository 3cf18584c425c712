#pragma once
// The serial transfer control: owns one COM port, sends text at once, hands back what arrived,
// and sends a whole file with XMODEM. Its members are the ones the updater drives, in the
// updater's own terms (port number, line settings, 16/32-bit values).
//
// Every member can fail and says so (false / empty optional, with lastError() telling why), so
// that a caller can either skip the failing step and go on, or stop at it.

#include "updater/core/line_settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// Values read through TransferStatus after SendFile. 1000 means the receiver acknowledged
// every block and the end of transmission; every other value is a failure.
enum class TransferStatus : std::int16_t {
    notStarted = 0,        // SendFile not called since the port was opened
    complete = 1000,       // every block and the EOT acknowledged
    cancelled = 1001,      // the receiver sent two CAN in a row
    timedOut = 1002,       // the receiver never started, or stopped answering
    tooManyErrors = 1003,  // MaxErrors retries of one block (or of the EOT) used up
    fileUnreadable = 1004, // SendFileName missing, a folder, unreadable or too large
    portNotOpen = 1005,    // SendFile called with the port closed
    lineError = 1006,      // the port failed while sending
    aborted = 1007,        // stopped from this side (window closing, Ctrl-C)
};

class TransferControl {
public:
    virtual ~TransferControl() = default;

    // Port number used by the next open (1 = COM1).
    virtual bool setCommPort(std::int16_t port) = 0;

    // Line settings. Settings a UART cannot produce are refused and the line stays as it was;
    // on an open port valid settings reconfigure the line at once.
    virtual bool setSettings(const LineSettings& line) = 0;

    // True opens the port (fails if missing or in use; true when open keeps it open),
    // false closes it (never blocks).
    virtual bool setPortOpen(bool open) = 0;
    virtual std::optional<bool> portOpen() const = 0;

    // Sends the text at once. Fails when the port is closed.
    virtual bool output(std::string_view text) = 0;
    // Returns and removes what arrived since the last read; never blocks. Fails when closed.
    virtual std::optional<std::string> input() = 0;

    // File sent by SendFile; SendFile returns when the transfer has ended (see TransferStatus).
    virtual bool setSendFileName(std::string_view path) = 0;
    virtual bool sendFile() = 0;
    virtual std::optional<TransferStatus> transferStatus() const = 0;

    // Buffer and mode members, given before opening.
    virtual bool setInputLength(std::int16_t value) = 0;
    virtual bool setHandshaking(std::int32_t value) = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
    virtual bool setInputBufferSize(std::int16_t value) = 0;
    virtual bool setOutputBufferSize(std::int16_t value) = 0;
    virtual bool setInputMode(std::int32_t value) = 0; // 0 text, 1 binary

    // The two Boolean options the updater sets: EnableCancel (a local cancel and the
    // receiver's CAN end a transfer), set True after opening; NullDiscard (drop NUL bytes from
    // received text), set False when the window loads.
    virtual bool setEnableCancel(bool value) = 0;
    virtual bool setNullDiscard(bool value) = 0;

    // Why the last failing member failed (empty when none has failed).
    virtual std::string lastError() const = 0;
};

// Hands every member to another control. The base of the controls that add one concern to a
// transfer control (drawing its state, stopping at Ctrl-C): they override the members that
// concern touches and call through for the rest.
class ForwardingTransferControl : public TransferControl {
public:
    explicit ForwardingTransferControl(TransferControl& inner) : inner_(inner) {}

    bool setCommPort(std::int16_t port) override { return inner_.setCommPort(port); }
    bool setSettings(const LineSettings& line) override { return inner_.setSettings(line); }
    bool setPortOpen(bool open) override { return inner_.setPortOpen(open); }
    std::optional<bool> portOpen() const override { return inner_.portOpen(); }
    bool output(std::string_view text) override { return inner_.output(text); }
    std::optional<std::string> input() override { return inner_.input(); }
    bool setSendFileName(std::string_view path) override { return inner_.setSendFileName(path); }
    bool sendFile() override { return inner_.sendFile(); }
    std::optional<TransferStatus> transferStatus() const override { return inner_.transferStatus(); }
    bool setInputLength(std::int16_t value) override { return inner_.setInputLength(value); }
    bool setHandshaking(std::int32_t value) override { return inner_.setHandshaking(value); }
    bool setInputBufferSize(std::int16_t value) override { return inner_.setInputBufferSize(value); }
    bool setOutputBufferSize(std::int16_t value) override { return inner_.setOutputBufferSize(value); }
    bool setInputMode(std::int32_t value) override { return inner_.setInputMode(value); }
    bool setEnableCancel(bool value) override { return inner_.setEnableCancel(value); }
    bool setNullDiscard(bool value) override { return inner_.setNullDiscard(value); }
    std::string lastError() const override { return inner_.lastError(); }

private:
    TransferControl& inner_;
};

} // namespace qz
