#include "updater/cli/upload_command.h"

#include "updater/cli/cli_options.h"
#include "updater/cli/exit_codes.h"
#include "updater/cli/interrupt.h"
#include "updater/cli/json_result.h"
#include "updater/cli/port_upload.h"
#include "updater/cli/ports_display.h"
#include "updater/core/serial_transfer_control.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#ifndef QZ_VERSION
#define QZ_VERSION "unknown"
#endif

namespace qz::cli {

std::optional<std::uintmax_t> checkFirmware(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    const auto refuse = [&](const std::string& why) -> std::optional<std::uintmax_t> {
        error = "cannot read firmware " + path + ": " + why;
        return std::nullopt;
    };
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (status.type() == fs::file_type::not_found) return refuse("no such file");
    if (ec) return refuse(ec.message());
    if (fs::is_directory(status)) return refuse("is a folder");
    if (!fs::is_regular_file(status)) return refuse("not a regular file");
    const std::uintmax_t size = fs::file_size(fs::path(path), ec);
    if (ec) return refuse(ec.message());
    if (size == 0) return refuse("the file is empty");
    if (size > SerialTransferControl::kMaxImageSize)
        return refuse("too large (" + std::to_string(size) + " bytes, at most " +
                      std::to_string(SerialTransferControl::kMaxImageSize) + ")");
    // Opening tells whether this user may read it.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return refuse(std::generic_category().message(errno));
    std::fclose(file);
    return size;
}

std::optional<std::pair<std::size_t, std::size_t>> findRepeatedPort(const std::vector<PortName>& ports) {
    for (std::size_t later = 1; later < ports.size(); ++later)
        for (std::size_t earlier = 0; earlier < later; ++earlier)
            if (ports[earlier].identity == ports[later].identity) return std::pair{earlier, later};
    return std::nullopt;
}

namespace {

// A station waits this long before it tries a port again that could not be opened.
constexpr std::chrono::milliseconds kPortRetry{500};

std::string portListJson(const std::vector<std::string>& ports) {
    std::string json = "{\"ports\":[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i) json += ',';
        json += jsonString(ports[i]);
    }
    return json + "]}";
}

std::string withoutNewline(std::string_view text) {
    if (text.ends_with('\n')) text.remove_suffix(1);
    return std::string(text);
}

std::string printed(const char* format, double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string padded(std::string text, std::size_t width, bool right = false) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

std::size_t labelWidth(const std::vector<PortName>& names) {
    std::size_t width = 4; // "PORT"
    for (const PortName& name : names) width = std::max(width, name.label.size());
    return width;
}

// Waits, in short steps so that Ctrl-C ends the wait soon.
void pauseUnlessInterrupted(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!interruptRaised() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

struct Tally {
    unsigned long boards = 0;
    unsigned long succeeded = 0;
    std::vector<Outcome> outcomes; // one per board
    // "3 ok, 1 failed": what a station's port line starts with.
    std::string text() const {
        return std::to_string(succeeded) + " ok, " + std::to_string(boards - succeeded) + " failed";
    }
};

class Command {
public:
    Command(const ParseResult& parsed, Platform& platform)
        : parsed_(parsed), options_(parsed.options), platform_(platform),
          humanStream_(options_.json ? Stream::err : Stream::out) {}

    int run() {
        try {
            return runChecked();
        } catch (const std::exception& e) {
            return failAll(Outcome::internalError, std::string("internal error: ") + e.what());
        }
    }

private:
    int runChecked() {
        if (!parsed_.ok()) return usageError(parsed_.error);
        if (options_.help) {
            platform_.write(Stream::out, usageText());
            return kExitSuccess;
        }
        if (options_.version) {
            platform_.write(Stream::out, std::string(kProgramName) + " " QZ_VERSION "\n");
            return kExitSuccess;
        }
        if (options_.listPorts) return listPorts();

        std::string error;
        for (const std::string& port : options_.ports) {
            const auto name = platform_.resolvePort(port, error);
            if (!name) return usageError(error);
            names_.push_back(*name);
        }
        if (const auto repeated = findRepeatedPort(names_)) {
            return usageError("the same port is given twice: '" + options_.ports[repeated->first] + "' and '" +
                              options_.ports[repeated->second] + "'");
        }
        const auto size = checkFirmware(options_.firmware, error);
        if (!size) return failAll(Outcome::firmwareUnreadable, error);
        bytesTotal_ = *size;

        platform_.installInterruptHandlers();
        if (options_.loop) return station();
        if (names_.size() == 1) return single();
        return gang();
    }

    int listPorts() {
        const std::vector<std::string> ports = platform_.listPorts();
        if (options_.json) {
            platform_.write(Stream::out, portListJson(ports) + "\n");
        } else {
            for (const std::string& port : ports) platform_.write(Stream::out, port + "\n");
            if (ports.empty() && !options_.quiet) platform_.write(humanStream_, "No serial ports found.\n");
        }
        return kExitSuccess;
    }

    // The usage line, then the error with a pointer to the help.
    int usageError(const std::string& error) {
        platform_.write(Stream::err, std::string(kUsageLine) + "\n" + std::string(kProgramName) + ": " + error +
                                         " (see " + std::string(kProgramName) + " --help)\n");
        if (options_.json) {
            RunReport report;
            report.outcome = Outcome::usageError;
            report.message = error;
            report.port = options_.ports.empty() ? std::string() : options_.ports.front();
            report.firmware = options_.firmware;
            writeJson(report);
        }
        return exitCode(Outcome::usageError);
    }

    // One failure before any port was used: one error line, one JSON object per port.
    int failAll(Outcome outcome, const std::string& message) {
        platform_.write(Stream::err, std::string(kProgramName) + ": " + message + "\n");
        if (options_.json) {
            RunReport report;
            report.outcome = outcome;
            report.message = message;
            report.firmware = options_.firmware;
            if (names_.empty()) writeJson(report);
            for (const PortName& name : names_) {
                report.port = name.label;
                writeJson(report);
            }
        }
        return exitCode(outcome);
    }

    void writeJson(const RunReport& report) {
        const std::lock_guard lock(jsonMutex_);
        platform_.write(Stream::out, jsonResult(report) + "\n");
    }

    // One port: the phase lines and the progress as they always were, no port names.
    int single() {
        PortUpload upload(options_, platform_, names_.front(), bytesTotal_);
        PortSinks sinks;
        sinks.human = [this](std::string_view text) { platform_.write(humanStream_, text); };
        sinks.errors = [this](std::string_view text) {
            platform_.write(Stream::err, std::string(kProgramName) + ": " + std::string(text));
        };
        sinks.terminal = platform_.isTerminal(humanStream_);
        sinks.quiet = options_.quiet;
        const PortAttempt attempt = upload.run(sinks);
        const RunReport& report = attempt.report;
        if (report.outcome != Outcome::success)
            sinks.errors(report.message + "\n");
        else if (!options_.quiet)
            sinks.human(report.message + "\n");
        if (options_.json) writeJson(report);
        return exitCode(report.outcome);
    }

    std::unique_ptr<PortsDisplay> makeDisplay() {
        std::vector<std::string> labels;
        for (const PortName& name : names_) labels.push_back(name.label);
        return std::make_unique<PortsDisplay>([this](std::string_view text) { platform_.write(humanStream_, text); },
                                              [this](std::string_view text) { platform_.write(Stream::err, text); },
                                              platform_.isTerminal(humanStream_), options_.quiet, std::move(labels));
    }

    // Runs `work(port)` for every port at once, one thread each; an exception ends only its port.
    template <typename Work>
    void eachPortAtOnce(PortsDisplay& display, Work work) {
        std::vector<std::thread> threads;
        for (std::size_t port = 0; port < names_.size(); ++port) {
            threads.emplace_back([&, port] {
                try {
                    work(port);
                } catch (const std::exception& e) {
                    display.error(port, std::string("internal error: ") + e.what());
                    internalErrors_ = true;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
    }

    PortSinks sinksFor(PortsDisplay& display, std::size_t port, std::function<std::string()> prefix = {}) {
        const auto decorate = [prefix](std::string_view text) {
            const std::string bare = withoutNewline(text);
            return prefix ? prefix() + bare : bare;
        };
        PortSinks sinks;
        sinks.human = [&display, port, decorate](std::string_view text) {
            display.status(port, display.terminal() ? decorate(text) : withoutNewline(text));
        };
        sinks.errors = [&display, port](std::string_view text) { display.error(port, withoutNewline(text)); };
        sinks.redraw = [&display, port, decorate](std::string_view text) { display.progress(port, decorate(text)); };
        sinks.terminal = display.terminal();
        sinks.quiet = options_.quiet;
        return sinks;
    }

    // Several ports at once, each on its own; then the summary table.
    int gang() {
        const auto display = makeDisplay();
        std::vector<RunReport> reports(names_.size());
        eachPortAtOnce(*display, [&](std::size_t port) {
            PortUpload upload(options_, platform_, names_[port], bytesTotal_);
            const PortAttempt attempt = upload.run(sinksFor(*display, port));
            reports[port] = attempt.report;
            if (attempt.report.outcome == Outcome::success)
                display->status(port, attempt.report.message);
            else
                display->error(port, attempt.report.message);
            if (options_.json) writeJson(attempt.report);
        });
        display->close();

        const std::size_t width = labelWidth(names_);
        display->note(padded("PORT", width) + "  " + padded("OUTCOME", 19) + padded("BYTES", 10, true) +
                      padded("RETRIES", 9, true) + padded("SECONDS", 9, true));
        std::vector<Outcome> outcomes;
        for (std::size_t port = 0; port < names_.size(); ++port) {
            const RunReport& report = reports[port];
            outcomes.push_back(report.outcome);
            const XmodemProgress none{};
            const XmodemProgress& transfer = report.transfer ? *report.transfer : none;
            display->note(
                padded(names_[port].label, width) + "  " + padded(std::string(outcomeName(report.outcome)), 19) +
                padded(std::to_string(transfer.bytesAcked), 10, true) +
                padded(std::to_string(transfer.retries), 9, true) + padded(printed("%.1f", report.seconds), 9, true));
        }
        return exitCode(combinedOutcome(outcomes));
    }

    // Station: board after board on every port until Ctrl-C (or --count boards each).
    int station() {
        const auto display = makeDisplay();
        // Each port's tally is only touched by its own thread until all have ended.
        std::vector<Tally> tallies(names_.size());
        eachPortAtOnce(*display, [&](std::size_t port) {
            Tally& tally = tallies[port];
            const auto tallyText = [&tally] { return tally.text(); };
            PortUpload upload(options_, platform_, names_[port], bytesTotal_);
            const PortSinks sinks = sinksFor(*display, port, [tallyText] { return tallyText() + " | "; });
            bool portAway = false; // told that the port cannot be used
            while (!interruptRaised() && (options_.count == 0 || tally.boards < options_.count)) {
                PortAttempt attempt = upload.run(sinks);
                RunReport& report = attempt.report;
                if (attempt.started) {
                    portAway = false;
                    ++tally.boards;
                    if (report.outcome == Outcome::success) ++tally.succeeded;
                    tally.outcomes.push_back(report.outcome);
                    report.board = tally.boards;
                    std::string line = "board " + std::to_string(tally.boards) + ": " +
                                       std::string(outcomeName(report.outcome)) + ", " +
                                       printed("%.1f s", report.seconds);
                    if (report.outcome == Outcome::success)
                        display->event(port, line);
                    else
                        display->error(port, line + ": " + report.message);
                    if (display->terminal()) display->status(port, tallyText());
                    if (options_.json) writeJson(report);
                    continue;
                }
                if (interruptRaised()) break;
                if (report.outcome == Outcome::timedOut) continue; // no controller yet: wait on
                // The port cannot be opened, or went away: wait until it is back.
                if (!portAway || attempt.lineLost) display->event(port, "waiting for the port: " + report.message);
                portAway = true;
                if (display->terminal()) display->status(port, tallyText() + " | waiting for the port");
                pauseUnlessInterrupted(kPortRetry);
            }
        });
        display->close();

        const std::size_t width = labelWidth(names_);
        display->note(padded("PORT", width) + "  " + padded("BOARDS", 8, true) + padded("OK", 8, true) +
                      padded("FAILED", 8, true));
        std::vector<Outcome> outcomes;
        for (std::size_t port = 0; port < names_.size(); ++port) {
            const Tally& tally = tallies[port];
            outcomes.insert(outcomes.end(), tally.outcomes.begin(), tally.outcomes.end());
            display->note(padded(names_[port].label, width) + "  " + padded(std::to_string(tally.boards), 8, true) +
                          padded(std::to_string(tally.succeeded), 8, true) +
                          padded(std::to_string(tally.boards - tally.succeeded), 8, true));
        }
        if (interruptRaised()) return kExitInterrupted;
        if (internalErrors_) return kExitInternalError;
        return exitCode(combinedOutcome(outcomes));
    }

    const ParseResult& parsed_;
    const CliOptions& options_;
    Platform& platform_;
    Stream humanStream_;
    std::vector<PortName> names_;
    std::uint64_t bytesTotal_ = 0;
    std::mutex jsonMutex_;
    std::atomic<bool> internalErrors_{false};
};

} // namespace

int runUploadCommand(const std::vector<std::string>& args, Platform& platform) {
    const ParseResult parsed = parseCommandLine(args);
    Command command(parsed, platform);
    return command.run();
}

} // namespace qz::cli
