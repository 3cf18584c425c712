#include "updater/cli/console_output.h"

namespace qz::cli {

namespace {
constexpr std::chrono::milliseconds kRedrawInterval{100};
} // namespace

ConsoleOutput::ConsoleOutput(Sink human, Sink errors, bool terminal, bool quiet, Clock clock, Sink redraw)
    : human_(std::move(human)), errors_(std::move(errors)), redraw_(std::move(redraw)), terminal_(terminal),
      quiet_(quiet), clock_(std::move(clock)) {}

double ConsoleOutput::elapsed() const {
    if (!started_) return 0;
    return std::chrono::duration<double>((ended_ ? *ended_ : now()) - *started_).count();
}

std::optional<double> ConsoleOutput::transferSeconds() const {
    if (!started_) return std::nullopt;
    return elapsed();
}

void ConsoleOutput::endRedrawnLine() {
    if (drawnWidth_ == 0) return;
    human_("\n");
    drawnWidth_ = 0;
}

void ConsoleOutput::line(std::string_view text) {
    if (quiet_) return;
    endRedrawnLine();
    std::string out(text);
    out += '\n';
    human_(out);
}

void ConsoleOutput::error(std::string_view text) {
    // The progress line and the error may share a terminal (stdout and stderr).
    if (!quiet_) endRedrawnLine();
    std::string out(text);
    out += '\n';
    errors_(out);
}

void ConsoleOutput::transfer(const TransferReport& report) {
    const XmodemProgress& progress = report.progress;
    last_ = progress;
    if (!started_ && progress.phase != XmodemPhase::waitingForReceiver) started_ = now();
    const bool ended = !report.running;
    if (ended && started_ && !ended_) ended_ = now();
    if (quiet_ || !started_) return;

    if (!terminal_) {
        if (tenths_.reached(progress)) line(plainProgressLine(progress, elapsed()));
        return;
    }
    const auto current = now();
    const bool drawn = redraw_ ? redrawn_ : drawnWidth_ != 0;
    if (!ended && drawn && current - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = current;
    if (redraw_) {
        redraw_(compactProgressLine(progress, elapsed()));
        redrawn_ = true;
        return;
    }
    std::string text = terminalProgressLine(progress, elapsed());
    const std::size_t width = text.size();
    // Blanks over what is left of a longer line drawn before.
    if (width < drawnWidth_) text.append(drawnWidth_ - width, ' ');
    human_("\r" + text);
    drawnWidth_ = std::max<std::size_t>(width, 1);
    if (ended) endRedrawnLine();
}

} // namespace qz::cli
