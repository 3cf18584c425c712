#pragma once
// The upload sequence: open the port, wake the controller at three line speeds, listen at
// 57600 baud for the start character "%", answer "{", send the firmware with the transfer
// control, report the outcome, and return to idle on every way out.
//
// It depends only on the transfer control, a narrow host (the window, or a console) and the
// state fields it shares with its owner, so that a window and a command-line tool run the
// same sequence and put the same bytes on the wire.

#include "updater/core/transfer_control.h"
#include "updater/core/updater_view.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// State fields of the updater that the sequence reads and writes (owned by the window).
struct UpdaterState {
    std::int16_t ComPort = 0;     // port number given to the control's CommPort
    std::string FileToUpLoad;     // full path of the firmware file; empty: none chosen
    std::uint8_t SerialTimer = 0; // seconds counter raised by each Timer1 tick
    bool PortError = false;       // set when opening the port failed
};

// One Timer1 tick: SerialTimer + 1, staying at 255 once there (no wrap back to 0).
void tickSerialTimer(UpdaterState& state);

// The phases of an upload, in the order the sequence enters them.
enum class UploadPhase {
    Waking,        // the port is open; the three wake-up passes follow
    Listening,     // waiting at 57600 baud for the start character
    StartReceived, // "%" came; "{" goes out
    Sending,       // the firmware goes out with the transfer control
    Idle,          // back to idle, whichever way the upload ended
};

// The status line the window shows for a phase ("Status: Idle", ...); empty when it shows
// none (Waking).
std::string_view statusText(UploadPhase phase);

// What the sequence needs from its host.
class UploadHost {
public:
    virtual ~UploadHost() = default;
    // Status line ("Status: Idle", ...).
    virtual void showStatus(std::string_view text) = 0;
    // Told as each phase begins, before its status line (for a host that follows the upload
    // without a status line, such as a console).
    virtual void phaseEntered(UploadPhase) {}
    // Modal message with an OK button and no icon.
    virtual void showMessage(std::string_view text, std::string_view title) = 0;
    // Handle pending events once (clicks, Timer1 ticks that call tickSerialTimer), then return.
    virtual void pumpMessages() = 0;
    // Block for the given time; no event is handled meanwhile.
    virtual void sleep(std::uint32_t milliseconds) = 0;
    // Timer1 (1000 ms): while enabled, the host's pump ticks SerialTimer each second.
    virtual void setTimerEnabled(bool enabled) = 0;
    // The five input controls: FileText, Browse, Label1, ComPortSet, UpLoad.
    virtual void setInputEnabled(ControlId control, bool enabled) = 0;
    // Asked after each pump of the wait for the start character; true ends the wait as
    // UploadOutcome::Cancelled (through the finish). The window never cancels.
    virtual bool cancelRequested() { return false; }
};

enum class UploadOutcome {
    Success,        // TransferStatus read 1000
    PortFailed,     // OpenSerialPort failed (message shown, already idle)
    NoFile,         // FileToUpLoad empty: port opened and closed, nothing sent
    TimedOut,       // no start character before SerialTimer passed the limit
    TransferFailed, // SendFile ended with another status (or it could not be read)
    Cancelled,      // the host asked to stop while waiting
};

struct UploadResult {
    UploadOutcome outcome = UploadOutcome::TransferFailed;
    // TransferStatus as read after SendFile (Success and TransferFailed only; empty when the
    // read failed or the transfer was never reached).
    std::optional<TransferStatus> transferStatus;
};

struct UploadOptions {
    // The wait gives up when SerialTimer is greater than this (at most 254).
    std::uint8_t timeoutLimit = 5;
    // False skips the three wake-up passes (the controller already listens).
    bool wake = true;
    // Pause after opening for the listen, before the first poll (the window's 500 ms, which
    // gives a woken controller time to start its bootloader).
    std::uint32_t listenPauseMs = 500;
    // Title of the port and time-out messages.
    std::string applicationTitle = "Updater7304";
};

// Fixed texts of the sequence (the status lines: statusText).
inline constexpr std::string_view kWakeCommand = "7*450263\r";
inline constexpr std::string_view kTimeoutMessage = "Serial Timeout. Please check QZ450 serial connection";
inline constexpr std::string_view kSuccessMessage = "File Transfer Complete";
inline constexpr std::string_view kSuccessTitle = "Success!";

// "COM 5 is in use by another program or doesn't exist on your computer. Please check and try again"
std::string portFailureMessage(std::int16_t comPort);

class UploadSequence {
public:
    UploadSequence(TransferControl& control, UploadHost& host, UpdaterState& state, UploadOptions options = {});

    // The whole sequence (the click on UpLoad). Returns when the window is idle again.
    UploadResult run();

    // Opens the port numbered ComPort at 19200 baud (8 data bits, no parity, 1 stop bit) with
    // the buffer settings; an open port counts as opened. On failure: the message, PortError,
    // the controls enabled, "Status: Idle", Timer1 disabled, and false.
    bool OpenSerialPort();

private:
    void begin();
    void wake();
    void wakePass(const LineSettings& line, bool pauseFirst, bool pauseLast);
    void reopen(const LineSettings& line);
    // Empty once the start character came and was answered; else how the wait ended.
    std::optional<UploadOutcome> awaitStartCharacter();
    UploadResult sendFirmware();
    UploadResult finish(UploadResult result);
    void enter(UploadPhase phase);
    void setInputsEnabled(bool enabled);

    TransferControl& control_;
    UploadHost& host_;
    UpdaterState& state_;
    UploadOptions options_;
};

} // namespace qz
