#pragma once
// What the tool shows when it works on several ports at once (or as a station), written from
// one thread per port. Not on a terminal, every line is prefixed with its port ("COM3: ...").
// On a terminal each port has one line of its own below everything else, redrawn in place
// (at most every 100 ms for progress); errors and station events are printed above those lines.

#include "updater/cli/console_io.h"

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

class PortsDisplay {
public:
    // `human` takes the ports' lines, events and notes; `errors` the error lines.
    PortsDisplay(Sink human, Sink errors, bool terminal, bool quiet, std::vector<std::string> labels, Clock clock = {});

    std::size_t ports() const { return labels_.size(); }
    const std::string& label(std::size_t port) const { return labels_[port]; }
    bool terminal() const { return terminal_; }

    // The port's state or result ("Waiting for the bootloader", "File Transfer Complete ...").
    void status(std::size_t port, std::string_view text);
    // The port's progress: its line on a terminal, nothing otherwise (the caller writes
    // plain progress lines through status()).
    void progress(std::size_t port, std::string_view text);
    // A line worth keeping, such as a finished board: printed (above the ports' lines on a
    // terminal) with the port's name.
    void event(std::size_t port, std::string_view text);
    // "qz450-upload: PORT: text" on the error stream; also shown as the port's state. In
    // quiet mode too.
    void error(std::size_t port, std::string_view text);
    // A line of its own (the summary table), below the ports' lines.
    void note(std::string_view text);
    // Draws the ports' lines a last time and leaves them on screen.
    void close();

private:
    std::chrono::steady_clock::time_point now() const { return timeOf(clock_); }
    std::string portLine(std::size_t port) const;
    void drawLocked();
    void clearLocked();

    Sink human_;
    Sink errors_;
    bool terminal_;
    bool quiet_;
    std::vector<std::string> labels_;
    std::size_t labelWidth_ = 0;
    Clock clock_;
    std::mutex mutex_;
    std::vector<std::string> states_; // each port's line on a terminal
    std::size_t drawnLines_ = 0;      // the ports' lines now on screen
    bool closed_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

} // namespace qz::cli
