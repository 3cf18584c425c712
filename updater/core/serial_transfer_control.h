#pragma once
// The serial transfer control over a real serial port: TransferControl's members, the control's
// further settings with their design-time values, and what a window needs to show and to stay
// responsive during a transfer (statistics, progress and idle hooks, abort).
//
// Choices where the members leave room:
// - CommPort takes 1 to 255 and, like the buffer sizes, only while the port is closed.
// - Settings that no UART can produce, or that the open port refuses, leave the line as it was.
//   The open port is re-programmed only when the settings differ from its present ones.
// - Input returns everything received (or at most InputLength bytes when that is not 0) and
//   removes it; NullDiscard drops NUL bytes as they arrive. InputMode 0 (text) and 1 (binary)
//   return the same bytes here.
// - Output waits until the port driver has taken the bytes, not until they are on the wire.
// - Closing gives output still queued the time it takes on the line, then drops it (the
//   wake-up command sent right before a close still leaves).
// - SendFile: the file is read whole (at most kMaxImageSize bytes) and sent with XMODEM; the
//   result is in TransferStatus (TransferStatus), its words in lastError() and the
//   statistics in lastTransfer(). EnableCancel decides whether the receiver's two CAN end the
//   transfer and whether an abort from this side sends two CAN to the receiver.
// - The receiver chooses the block check. DTR is raised and RTS lowered while the port is open.
// - Closing the port while SendFile runs (from a window message handled in the idle hook)
//   aborts the transfer: two CAN go out first when EnableCancel is set, and SendFile returns
//   TransferStatus::aborted. The control must not be destroyed while SendFile runs.

#include "updater/core/serial_port.h"
#include "updater/core/transfer_control.h"
#include "updater/core/xmodem_sender.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qz {

// "\\.\COM<n>": the Win32 device name of COM port n (also right for ports above 9).
std::string win32ComDeviceName(int port);

// Words for a TransferStatus value ("complete", "cancelled by the receiver", ...).
std::string_view transferStatusText(TransferStatus status);

// The current or last transfer, as a window shows it.
struct TransferReport {
    std::string fileName;                               // SendFileName of that transfer
    bool running = false;                               // SendFile has not returned yet
    XmodemProgress progress;                            // blocks, bytes, retries, mode, phase
    TransferStatus status = TransferStatus::notStarted; // final status once it has ended
    std::string detail;                                 // what ended it, in words
};

class SerialTransferControl final : public TransferControl {
public:
    using DeviceNamer = std::function<std::string(int port)>;

    // Images larger than this are refused (TransferStatus::fileUnreadable).
    static constexpr std::uintmax_t kMaxImageSize = 32u * 1024 * 1024;

    // `port` is the transport (closed); `deviceForPort` turns CommPort into a device name.
    SerialTransferControl(SerialPort& port, DeviceNamer deviceForPort);
    ~SerialTransferControl() override;
    SerialTransferControl(const SerialTransferControl&) = delete;
    SerialTransferControl& operator=(const SerialTransferControl&) = delete;

    // TransferControl
    bool setCommPort(std::int16_t port) override;
    bool setSettings(const LineSettings& line) override;
    bool setPortOpen(bool open) override;
    std::optional<bool> portOpen() const override;
    bool output(std::string_view text) override;
    std::optional<std::string> input() override;
    bool setSendFileName(std::string_view path) override;
    bool sendFile() override;
    std::optional<TransferStatus> transferStatus() const override;
    bool setInputLength(std::int16_t value) override;
    bool setHandshaking(std::int32_t value) override;
    bool setInputBufferSize(std::int16_t value) override;
    bool setOutputBufferSize(std::int16_t value) override;
    bool setInputMode(std::int32_t value) override;
    bool setEnableCancel(bool value) override;
    bool setNullDiscard(bool value) override;
    std::string lastError() const override;

    // Further members, with their design-time values.
    std::int16_t commPort() const { return commPort_; }                 // 1
    const LineSettings& settings() const { return line_; }              // 9600, N, 8, 1
    std::int16_t inputLength() const { return inputLength_; }           // 0
    std::int32_t handshaking() const { return handshaking_; }           // 0
    std::int16_t inputBufferSize() const { return inputBufferSize_; }   // 1024
    std::int16_t outputBufferSize() const { return outputBufferSize_; } // 512
    std::int32_t inputMode() const { return inputMode_; }               // 0
    bool enableCancel() const { return enableCancel_; }                 // false
    bool nullDiscard() const { return nullDiscard_; }                   // false

    // Seconds to wait for the answer to a block before sending it again (0.1 to 60).
    bool setPacketTimeout(float seconds);
    float packetTimeout() const { return packetTimeout_; } // 1.0
    // Seconds to wait for the receiver's first request (1 to 600).
    bool setStartTimeout(float seconds);
    float startTimeout() const { return startTimeout_; } // 30.0
    // Byte that fills up the last block (0 to 255).
    bool setPadCharacter(std::int16_t value);
    std::int16_t padCharacter() const { return padCharacter_; } // 26
    // Failed attempts at one block (and EOTs sent) before the transfer ends (1 to 100).
    bool setMaxErrors(std::int16_t value);
    std::int16_t maxErrors() const { return maxErrors_; } // 10

    // Device naming: an explicit device path (a command-line tool's "/dev/ttyUSB0") wins over
    // the name made from CommPort; empty goes back to CommPort.
    void setDevicePath(std::string path) { devicePath_ = std::move(path); }
    // The device the next open uses, and the name the user knows it by ("COM1" or the path).
    std::string deviceName() const;
    std::string portLabel() const;
    // "COM1 closed", "COM1 open at 57600,n,8,1".
    std::string portStateText() const;

    // Transfer hooks: progress after every step of the transfer; idle while SendFile waits
    // (at least every 50 ms), returning IdleAction::abort to stop.
    void setProgressHook(std::function<void(const TransferReport&)> hook) { progressHook_ = std::move(hook); }
    void setIdleHook(std::function<IdleAction()> hook) { idleHook_ = std::move(hook); }
    // Stops a running transfer at its next wait. Safe from a signal handler or another thread.
    void requestAbort() noexcept { abortRequested_.store(true); }
    const TransferReport& lastTransfer() const { return report_; }

private:
    class InputChannel;

    bool fail(std::string message);
    bool requireClosed(std::string_view member);
    XmodemOptions xmodemOptions() const;
    void pullInput();
    void closePort();

    SerialPort& port_;
    DeviceNamer deviceForPort_;
    std::string devicePath_;
    std::string lastError_;

    std::int16_t commPort_ = 1;
    LineSettings line_; // 9600, N, 8, 1
    std::int32_t handshaking_ = 0;
    std::int16_t inputBufferSize_ = 1024;
    std::int16_t outputBufferSize_ = 512;
    std::int16_t inputLength_ = 0;
    std::int32_t inputMode_ = 0;
    bool nullDiscard_ = false;
    bool enableCancel_ = false;
    float packetTimeout_ = 1.0f;
    float startTimeout_ = 30.0f;
    std::int16_t padCharacter_ = 26;
    std::int16_t maxErrors_ = 10;

    std::string sendFileName_;
    TransferStatus transferStatus_ = TransferStatus::notStarted;
    std::string received_; // arrived and not yet handed out by Input
    TransferReport report_;
    std::function<void(const TransferReport&)> progressHook_;
    std::function<IdleAction()> idleHook_;
    std::atomic<bool> abortRequested_{false};
};

} // namespace qz
