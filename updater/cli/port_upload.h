#pragma once
// One run of the upload sequence on one port, as the tool makes it: the serial transfer
// control over the platform's port, the console host, Ctrl-C, phase lines, progress and the
// result with its message. Several of these run side by side, one thread each; a station runs
// one after the other on its port.

#include "updater/cli/cli_options.h"
#include "updater/cli/console_output.h"
#include "updater/cli/json_result.h"
#include "updater/cli/platform.h"
#include "updater/cli/watched_port.h"
#include "updater/core/serial_transfer_control.h"
#include "updater/core/upload_sequence.h"

#include <cstdint>
#include <memory>

namespace qz::cli {

// Where one port's texts go.
struct PortSinks {
    Sink human;  // phase lines, plain progress lines, the success line
    Sink errors; // the error line (the message alone, ended by a newline)
    Sink redraw; // terminal progress of this port; empty: a line redrawn with CR
    bool terminal = false;
    bool quiet = false;
};

// How one run ended, beyond its report.
struct PortAttempt {
    RunReport report;
    bool started = false;  // the bootloader's "%" came: there was a controller
    bool lineLost = false; // the line went away while waiting for it
};

class PortUpload {
public:
    // `bytesTotal`: the firmware's size, checked before.
    PortUpload(const CliOptions& options, Platform& platform, PortName name, std::uint64_t bytesTotal);

    // Runs the sequence once: with options.loop, without a time-out and telling "no
    // controller yet" and "line gone" apart from a board's result.
    PortAttempt run(const PortSinks& sinks);

    const PortName& name() const { return name_; }

private:
    struct Trace; // what the run learned from the sequence, beyond its result

    UpdaterState initialState() const;
    UploadOptions sequenceOptions() const;
    // The sequence entered `phase`: its line for the user, and where the run has got to.
    void follow(UploadPhase phase, Trace& trace, ConsoleOutput& output) const;
    PortAttempt conclude(const UploadResult& result, const SerialTransferControl& control, const ConsoleOutput& output,
                         const Trace& trace, double seconds);

    const CliOptions& options_;
    PortName name_;
    std::uint64_t bytesTotal_;
    std::size_t blocksTotal_;
    std::unique_ptr<SerialPort> device_;
    WatchedPort port_;
};

} // namespace qz::cli
