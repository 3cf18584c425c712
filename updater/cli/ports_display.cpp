#include "updater/cli/ports_display.h"

#include "updater/cli/cli_options.h"

#include <algorithm>

namespace qz::cli {

namespace {
constexpr std::chrono::milliseconds kRedrawInterval{100};
// A port's line never wraps on an 80-column terminal, or redrawing would climb too few lines.
constexpr std::size_t kLineWidth = 79;
constexpr std::string_view kClearLine = "\x1b[2K";
constexpr std::string_view kClearBelow = "\x1b[J";
} // namespace

PortsDisplay::PortsDisplay(Sink human, Sink errors, bool terminal, bool quiet, std::vector<std::string> labels,
                           Clock clock)
    : human_(std::move(human)), errors_(std::move(errors)), terminal_(terminal && !quiet), quiet_(quiet),
      labels_(std::move(labels)), clock_(std::move(clock)), states_(labels_.size()) {
    for (const std::string& label : labels_) labelWidth_ = std::max(labelWidth_, label.size());
}

std::string PortsDisplay::portLine(std::size_t port) const {
    std::string line = labels_[port];
    line.resize(labelWidth_, ' ');
    line += "  " + states_[port];
    if (line.size() > kLineWidth) line.resize(kLineWidth);
    return line;
}

// Cursor up to the first of the ports' lines, and everything from there on erased.
void PortsDisplay::clearLocked() {
    if (drawnLines_ == 0) return;
    human_("\x1b[" + std::to_string(drawnLines_) + "A" + std::string(kClearBelow));
    drawnLines_ = 0;
}

void PortsDisplay::drawLocked() {
    std::string text;
    if (drawnLines_ > 0) text = "\x1b[" + std::to_string(drawnLines_) + "A";
    for (std::size_t port = 0; port < labels_.size(); ++port) text += std::string(kClearLine) + portLine(port) + "\n";
    human_(text);
    drawnLines_ = labels_.size();
    lastDrawn_ = now();
}

void PortsDisplay::status(std::size_t port, std::string_view text) {
    if (quiet_) return;
    const std::lock_guard lock(mutex_);
    if (!terminal_) {
        human_(labels_[port] + ": " + std::string(text) + "\n");
        return;
    }
    states_[port] = text;
    if (!closed_) drawLocked();
}

void PortsDisplay::progress(std::size_t port, std::string_view text) {
    if (!terminal_) return;
    const std::lock_guard lock(mutex_);
    states_[port] = text;
    if (!closed_ && now() - lastDrawn_ >= kRedrawInterval) drawLocked();
}

void PortsDisplay::event(std::size_t port, std::string_view text) {
    if (quiet_) return;
    const std::lock_guard lock(mutex_);
    if (!closed_) clearLocked();
    human_(labels_[port] + ": " + std::string(text) + "\n");
    if (terminal_ && !closed_) drawLocked();
}

void PortsDisplay::error(std::size_t port, std::string_view text) {
    const std::lock_guard lock(mutex_);
    if (terminal_ && !closed_) clearLocked();
    errors_(std::string(kProgramName) + ": " + labels_[port] + ": " + std::string(text) + "\n");
    if (terminal_) {
        states_[port] = text;
        if (!closed_) drawLocked();
    }
}

void PortsDisplay::note(std::string_view text) {
    if (quiet_) return;
    const std::lock_guard lock(mutex_);
    if (terminal_ && !closed_) {
        drawLocked();
        closed_ = true;
    }
    human_(std::string(text) + "\n");
}

void PortsDisplay::close() {
    const std::lock_guard lock(mutex_);
    if (terminal_ && !closed_) drawLocked();
    closed_ = true;
}

} // namespace qz::cli
