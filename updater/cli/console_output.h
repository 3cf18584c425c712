#pragma once
// What the tool prints while it runs: phase lines, the transfer's progress (one redrawn line
// on a terminal, a plain line at each tenth otherwise) and the error line.

#include "updater/cli/console_io.h"
#include "updater/cli/progress_format.h"
#include "updater/core/serial_transfer_control.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qz::cli {

class ConsoleOutput {
public:
    // `human` takes phase lines and progress, `errors` the error line. On a terminal the
    // progress line is redrawn in place (at most every 100 ms, and at the end); with `redraw`
    // a shorter line goes there instead, without the carriage return (a line of its own per
    // port).
    ConsoleOutput(Sink human, Sink errors, bool terminal, bool quiet, Clock clock = {}, Sink redraw = {});

    // A line for the user (phase, result). Nothing in quiet mode.
    void line(std::string_view text);
    // The one error line; also in quiet mode.
    void error(std::string_view text);
    // A progress report of the transfer control.
    void transfer(const TransferReport& report);

    // Statistics of the transfer, once the control has reported it.
    const std::optional<XmodemProgress>& lastProgress() const { return last_; }
    // From the receiver's first request to the end (or to now while it runs).
    std::optional<double> transferSeconds() const;

private:
    std::chrono::steady_clock::time_point now() const { return timeOf(clock_); }
    double elapsed() const;
    void endRedrawnLine();

    Sink human_;
    Sink errors_;
    Sink redraw_;
    bool terminal_;
    bool quiet_;
    Clock clock_;
    std::optional<XmodemProgress> last_;
    std::optional<std::chrono::steady_clock::time_point> started_;
    std::optional<std::chrono::steady_clock::time_point> ended_;
    std::chrono::steady_clock::time_point lastDrawn_{};
    std::size_t drawnWidth_ = 0; // characters of the redrawn line on screen, 0: none
    bool redrawn_ = false;       // the redraw sink has had a line
    TenthMilestones tenths_;
};

} // namespace qz::cli
