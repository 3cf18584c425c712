// qz450sim: the QZ450 bootloader simulated on a pty, for tests, benchmarks and the demo.
// Prints "PTY <slave path>", then one JSON summary line per upload (see usageText()).

#include "updater/sim/bootloader.h"
#include "updater/sim/options.h"
#include "updater/sim/pty_line.h"
#include "updater/sim/trace.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <system_error>
#include <unistd.h>

namespace qzsim {
namespace {

volatile std::sig_atomic_t gSignal = 0;

void onSignal(int signal) { gSignal = signal; }

std::string replaceUploadNumber(std::string path, long upload) {
    for (auto at = path.find("{n}"); at != std::string::npos; at = path.find("{n}"))
        path.replace(at, 3, std::to_string(upload));
    return path;
}

// A pty has no line speed of its own: the speed of a byte is the client's setting when it
// was written. But bytes reach the master through a kernel work item, a tenth of a
// millisecond to several milliseconds after the write, while a change of the client's
// settings takes effect at once; the updater closes and reopens at the next speed right after
// each wake-up command, so that command often shows up only after the change. Hence: within
// this window after a speed change, a complete command (bytes ending in CR, not a bare CR) at
// the head of the first bytes read is taken as written at the old speed, provided the old
// speed had already carried bytes (the updater sends a bare CR first at each speed). What
// follows it, and a bare CR (which a client sends right after opening), is taken at the new
// speed; so is a command sent at once by a client that has just opened the line.
constexpr auto kHandOverWindow = std::chrono::milliseconds(50);
// Line settings are sampled at least this often while a wake-up may come.
constexpr auto kSpeedSampling = std::chrono::milliseconds(5);

// Time one character takes on the line (start bit, 8 data bits, stop bit).
Clock::duration characterTime(unsigned speed) {
    const double baud = speed > 0 ? speed : 9600;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / baud));
}

class Simulator {
public:
    Simulator(const Options& options, PtyLine& line, Trace& trace)
        : options_(options), line_(line), trace_(trace), start_(Clock::now()),
          bootloader_(options, Bootloader::Hooks{[this](std::span<const std::uint8_t> bytes) { queueTx(bytes); },
                                                 [this](const std::string& text) { event(text); },
                                                 [this](long upload, const std::string& summary,
                                                        const std::vector<std::uint8_t>* image) {
                                                     return finished(upload, summary, image);
                                                 }}) {}

    int run();

private:
    // A received byte, or (speedChange) the line speed changing to `speed` at that point.
    struct RxItem {
        std::uint8_t byte;
        unsigned speed;
        Clock::time_point release;
        bool speedChange;
    };
    struct TxByte {
        std::uint8_t byte;
        Clock::time_point due;
    };

    double elapsed(Clock::time_point t) const { return std::chrono::duration<double>(t - start_).count(); }
    void event(const std::string& text);
    void queueTx(std::span<const std::uint8_t> bytes);
    bool finished(long upload, const std::string& summary, const std::vector<std::uint8_t>* image);
    std::size_t readLine(std::vector<std::uint8_t>& bytes);
    void received(std::span<const std::uint8_t> bytes, unsigned speed, Clock::time_point now);
    void noteSpeed(unsigned speed, Clock::time_point now);
    std::size_t heldOverCommand(std::span<const std::uint8_t> bytes, Clock::time_point now);
    void waitForLine(Clock::time_point now);
    void takeFromLine(Clock::time_point now);
    void handOver(Clock::time_point now);
    void lingerForClient();
    void flushTx(Clock::time_point now);
    void printSummaries();

    const Options& options_;
    PtyLine& line_;
    Trace& trace_;
    Clock::time_point start_;
    Bootloader bootloader_;
    unsigned speed_ = 0;
    std::deque<RxItem> rx_;
    std::deque<TxByte> tx_;
    Clock::time_point rxFree_{};
    Clock::time_point txFree_{};
    // When the bootloader's current step happens: a received byte's arrival on the line, or
    // now for a timed step. Answers go on the line from then, however late the simulator
    // itself woke up to hand the byte over.
    Clock::time_point stepTime_{};
    struct {
        Clock::time_point seen{};
        unsigned before = 0;         // speed before the first change of the window
        bool beforeHadBytes = false; // bytes were read at that speed
        bool open = false;           // no bytes read since the change
    } change_;
    bool bytesAtThisSpeed_ = false;
    std::vector<std::uint8_t> bytes_; // read from the line, reused
    Clock::duration idle_{};          // the idle time-out; zero: none
    Clock::time_point lastActivity_{};
    Clock::time_point lastTick_{}; // the time of the bootloader's last tick
    std::deque<std::string> summaries_;
    long served_ = 0;
};

void Simulator::event(const std::string& text) {
    const Clock::time_point now = Clock::now();
    trace_.event(elapsed(now), text);
    if (options_.verbose) std::fprintf(stderr, "qz450sim %.6f %s\n", elapsed(now), text.c_str());
}

void Simulator::queueTx(std::span<const std::uint8_t> bytes) {
    const Clock::time_point now = Clock::now();
    for (std::uint8_t byte : bytes) {
        Clock::time_point due = now;
        if (options_.pace) {
            // A byte reaches the other end one character time after the line is free.
            due = std::max(std::min(stepTime_, now), txFree_) + characterTime(speed_);
            txFree_ = due;
        }
        tx_.push_back({byte, due});
    }
}

bool Simulator::finished(long upload, const std::string& summary, const std::vector<std::uint8_t>* image) {
    if (image && !options_.out.empty()) {
        const std::string path = replaceUploadNumber(options_.out, upload);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        if (!out) std::fprintf(stderr, "qz450sim: cannot write %s\n", path.c_str());
    }
    // Printed once the answers queued so far are on the line, so that a reader of the
    // summary finds the wire complete.
    summaries_.push_back(summary);
    ++served_;
    return options_.count == 0 || served_ < options_.count;
}

void Simulator::printSummaries() {
    while (!summaries_.empty()) {
        std::fputs((summaries_.front() + "\n").c_str(), stdout);
        std::fflush(stdout);
        summaries_.pop_front();
    }
}

std::size_t Simulator::readLine(std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = line_.read(buffer, sizeof buffer);
        if (n <= 0) return bytes.size();
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

void Simulator::received(std::span<const std::uint8_t> bytes, unsigned speed, Clock::time_point now) {
    trace_.rx(elapsed(now), speed, bytes);
    for (std::uint8_t byte : bytes) {
        Clock::time_point release = now;
        if (options_.pace) {
            release = std::max(now, rxFree_) + characterTime(speed);
            rxFree_ = release;
        }
        rx_.push_back({byte, speed, release, false});
    }
}

void Simulator::noteSpeed(unsigned speed, Clock::time_point now) {
    if (speed == speed_) return;
    if (!change_.open || now - change_.seen > kHandOverWindow) {
        change_.before = speed_;
        change_.beforeHadBytes = bytesAtThisSpeed_;
    }
    bytesAtThisSpeed_ = false;
    change_.seen = now;
    change_.open = true;
    speed_ = speed;
    event("speed " + std::to_string(speed));
    // What the client has not read yet would arrive garbled at the new speed.
    line_.discardClientInput();
    const Clock::time_point release = rx_.empty() ? now : std::max(now, rx_.back().release);
    rx_.push_back({0, speed, release, true});
}

std::size_t Simulator::heldOverCommand(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (!change_.open) return 0;
    change_.open = false;
    if (now - change_.seen > kHandOverWindow || change_.before == speed_ || !change_.beforeHadBytes) return 0;
    const auto cr = std::find(bytes.begin(), bytes.end(), std::uint8_t{'\r'});
    if (cr == bytes.begin() || cr == bytes.end()) return 0;
    return static_cast<std::size_t>(cr - bytes.begin()) + 1;
}

void Simulator::flushTx(Clock::time_point now) {
    std::vector<std::uint8_t> due;
    while (!tx_.empty() && tx_.front().due <= now) {
        due.push_back(tx_.front().byte);
        tx_.pop_front();
    }
    if (due.empty()) return;
    const ssize_t n = line_.write(due.data(), due.size());
    const std::size_t written = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (written < due.size()) event("line full: " + std::to_string(due.size() - written) + " bytes not sent");
    const std::span<const std::uint8_t> sent(due.data(), written);
    trace_.tx(elapsed(now), speed_, sent);
    bootloader_.transmitted(sent, now);
}

int Simulator::run() {
    idle_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.idleTimeoutS));
    lastActivity_ = start_;
    lastTick_ = start_;
    stepTime_ = start_;
    bootloader_.begin(start_);
    speed_ = line_.speed();
    event("speed " + std::to_string(speed_));

    for (;;) {
        waitForLine(Clock::now());
        const Clock::time_point now = Clock::now();
        if (gSignal != 0) {
            bootloader_.stop(now, "interrupted", false);
            printSummaries();
            return 4;
        }
        takeFromLine(now);
        handOver(now);
        stepTime_ = now;
        bootloader_.tick(speed_, now);
        lastTick_ = now;
        flushTx(now);
        if (tx_.empty()) printSummaries();
        if (bootloader_.done() && tx_.empty()) {
            lingerForClient();
            return 0;
        }
        if (idle_ > Clock::duration::zero() && now - lastActivity_ >= idle_ && !bootloader_.done()) {
            event("nothing happened for " + std::to_string(options_.idleTimeoutS) + " s");
            bootloader_.stop(now, "", true);
            tx_.clear();
            printSummaries();
            return 3;
        }
    }
}

// Sleeps until the line has bytes, a signal comes, or the next thing is due: a step of the
// bootloader, a sample of the line speed, a paced byte, or the idle time-out.
void Simulator::waitForLine(Clock::time_point now) {
    Clock::time_point deadline = std::min(bootloader_.nextDeadline(), now + std::chrono::milliseconds(100));
    if (bootloader_.speedSensitive()) deadline = std::min(deadline, now + kSpeedSampling);
    // Paced bytes are handed over when the last one queued has arrived, each with its own
    // arrival time: one wake-up per block rather than one per byte.
    if (!rx_.empty() && bootloader_.ready()) deadline = std::min(deadline, rx_.back().release);
    if (!tx_.empty()) deadline = std::min(deadline, tx_.front().due);
    if (idle_ > Clock::duration::zero()) deadline = std::min(deadline, lastActivity_ + idle_);
    const Clock::duration wait = std::max(Clock::duration::zero(), deadline - now);
    const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
    pollfd fd{line_.masterFd(), POLLIN, 0};
    sigset_t unblocked;
    sigemptyset(&unblocked);
    if (ppoll(&fd, 1, &timeout, &unblocked) < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "ppoll");
}

// Notes the line speed and queues what the client wrote, each byte at the speed it was written
// at (see kHandOverWindow).
void Simulator::takeFromLine(Clock::time_point now) {
    noteSpeed(line_.speed(), now);
    if (readLine(bytes_) == 0) return;
    noteSpeed(line_.speed(), now);
    std::span<const std::uint8_t> all(bytes_);
    const std::size_t head = heldOverCommand(all, now);
    if (head > 0) received(all.first(head), change_.before, now);
    received(all.subspan(head), speed_, now);
    bytesAtThisSpeed_ = bytesAtThisSpeed_ || head < all.size();
    lastActivity_ = now;
}

// Hands the received bytes and speed changes that have arrived by now to the bootloader, as long as
// it takes them.
void Simulator::handOver(Clock::time_point now) {
    while (!rx_.empty() && rx_.front().release <= now && !bootloader_.done()) {
        if (!bootloader_.ready()) {
            stepTime_ = now;
            bootloader_.tick(speed_, now); // the flash write may be over: ACK, then go on
            lastTick_ = now;
            if (!bootloader_.ready()) break;
        }
        const RxItem item = rx_.front();
        rx_.pop_front();
        // Never earlier than what the bootloader has already been told is the time.
        const Clock::time_point at = std::max(item.release, lastTick_);
        stepTime_ = at;
        if (item.speedChange)
            bootloader_.onSpeed(item.speed, at);
        else
            bootloader_.onByte(item.byte, item.speed, at);
    }
    if (bootloader_.done()) rx_.clear();
}

void Simulator::lingerForClient() {
    // Closing the master hangs the line up and drops what the client has not read yet (the
    // last ACK, say): give the client up to two seconds to take it.
    const auto until = Clock::now() + std::chrono::seconds(2);
    do {
        timespec pause{0, 20 * 1000 * 1000};
        sigset_t unblocked;
        sigemptyset(&unblocked);
        ppoll(nullptr, 0, &pause, &unblocked);
    } while (line_.clientUnread() > 0 && Clock::now() < until && gSignal == 0);
}

int normalise(const Options& options) {
    std::ifstream in(options.normalise);
    if (!in) {
        std::fprintf(stderr, "qz450sim: cannot read %s\n", options.normalise.c_str());
        return 1;
    }
    std::fputs(normaliseTrace(in, options.normaliseUpload).c_str(), stdout);
    return 0;
}

bool makeLink(const std::string& link, const std::string& target) {
    char existing[4096];
    if (readlink(link.c_str(), existing, sizeof existing) >= 0)
        unlink(link.c_str()); // replaces an earlier link, never a file
    return symlink(target.c_str(), link.c_str()) == 0;
}

void removeLink(const std::string& link, const std::string& target) {
    char existing[4096] = {};
    const ssize_t n = readlink(link.c_str(), existing, sizeof existing - 1);
    if (n >= 0 && std::string(existing, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

} // namespace
} // namespace qzsim

int main(int argc, char** argv) {
    using namespace qzsim;
    std::string error;
    bool help = false;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error, help);
    if (help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!options) {
        std::fprintf(stderr, "qz450sim: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (!options->normalise.empty()) return normalise(*options);

    // SIGINT/SIGTERM/SIGHUP are taken only inside ppoll, so no wait misses them.
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&blocked, signal);
    }
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A paced line wakes up for every answer byte at its due time; the kernel's default slack
    // of 50 us on such timed waits would add to the line time of every block.
    if (options->pace) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    try {
        PtyLine line;
        Trace trace;
        if (!trace.open(options->trace)) {
            std::fprintf(stderr, "qz450sim: cannot write %s: %s\n", options->trace.c_str(), std::strerror(errno));
            return 1;
        }
        if (!options->link.empty() && !makeLink(options->link, line.slavePath())) {
            std::fprintf(stderr, "qz450sim: cannot make link %s: %s\n", options->link.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("PTY %s\n", line.slavePath().c_str());
        std::fflush(stdout);
        Simulator simulator(*options, line, trace);
        const int status = simulator.run();
        if (!options->link.empty()) removeLink(options->link, line.slavePath());
        return status;
    } catch (const std::exception& e) {
        if (!options->link.empty()) unlink(options->link.c_str());
        std::fprintf(stderr, "qz450sim: %s\n", e.what());
        return 1;
    }
}
