#pragma once
// The tool's serial port: passes every member through to the platform's port, and adds what
// the console needs while it waits for the bootloader's "%": a wait that sleeps on the line
// until input comes (bytes read ahead are handed out first by the next read, so nothing is
// lost or reordered), and a note that the line has gone (an unplugged adapter, a hung-up pty).

#include "updater/core/serial_port.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace qz::cli {

class WatchedPort final : public SerialPort {
public:
    explicit WatchedPort(SerialPort& inner) : inner_(inner) {}

    // Returns when input is there or after `limit`. On a closed or lost line it just waits.
    void waitForInput(std::chrono::milliseconds limit);
    // A read failed on the open line since it was opened (not merely "not open").
    bool lost() const { return lost_; }

    PortStatus open(const std::string& device, const LineSettings& line, const PortOptions& options) override;
    void close() noexcept override;
    bool isOpen() const override { return inner_.isOpen(); }
    const std::string& device() const override { return inner_.device(); }
    PortStatus reconfigure(const LineSettings& line) override { return inner_.reconfigure(line); }
    PortStatus setDtr(bool raised) override { return inner_.setDtr(raised); }
    PortStatus setRts(bool raised) override { return inner_.setRts(raised); }
    PortStatus setHandshaking(Handshaking handshaking) override { return inner_.setHandshaking(handshaking); }
    PortStatus write(std::span<const std::uint8_t> bytes) override { return inner_.write(bytes); }
    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override;
    const PortStatus& lastReadError() const override { return inner_.lastReadError(); }
    PortStatus discardInput() override;

private:
    ReadResult readInner(std::span<std::uint8_t> buffer, int timeoutMs);

    SerialPort& inner_;
    std::vector<std::uint8_t> ahead_; // read by waitForInput, not yet handed out
    bool lost_ = false;
};

} // namespace qz::cli
