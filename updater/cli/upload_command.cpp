#include "upload_command.h"

#include "cli_options.h"
#include "console_host.h"
#include "console_output.h"
#include "exit_codes.h"
#include "interrupt.h"
#include "interruptible_control.h"
#include "json_result.h"
#include "serial_transfer_control.h"
#include "upload_sequence.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

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

namespace {

enum class Phase { opening, waking, waiting, sending };

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
    return buffer;
}

std::string portListJson(const std::vector<std::string>& ports) {
    std::string json = "{\"ports\":[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i) json += ',';
        json += jsonString(ports[i]);
    }
    return json + "]}";
}

class Command {
public:
    Command(const ParseResult& parsed, Platform& platform)
        : parsed_(parsed), options_(parsed.options), platform_(platform),
          humanStream_(options_.json ? Stream::err : Stream::out),
          output_([this](std::string_view text) { platform_.write(humanStream_, text); },
                  [this](std::string_view text) { platform_.write(Stream::err, text); },
                  platform_.isTerminal(humanStream_), options_.quiet) {
        report_.port = options_.port;
        report_.firmware = options_.firmware;
    }

    int run() {
        try {
            return runChecked();
        } catch (const std::exception& e) {
            return finish(Outcome::internalError, std::string("internal error: ") + e.what());
        }
    }

private:
    int runChecked() {
        if (!parsed_.ok()) return finish(Outcome::usageError, parsed_.error + " (see --help)");
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
        const auto size = checkFirmware(options_.firmware, error);
        if (!size) return finish(Outcome::firmwareUnreadable, error);
        report_.bytesTotal = *size;
        report_.blocksTotal = static_cast<std::size_t>((*size + xmodem::kBlockDataSize - 1) / xmodem::kBlockDataSize);

        const auto name = platform_.resolvePort(options_.port, error);
        if (!name) return finish(Outcome::usageError, error + " (see --help)");
        report_.port = name->label;
        return upload(*name);
    }

    int listPorts() {
        const std::vector<std::string> ports = platform_.listPorts();
        if (options_.json) {
            platform_.write(Stream::out, portListJson(ports) + "\n");
        } else {
            for (const std::string& port : ports) platform_.write(Stream::out, port + "\n");
            if (ports.empty()) output_.line("No serial ports found.");
        }
        return kExitSuccess;
    }

    int upload(const PortName& name) {
        platform_.installInterruptHandlers();
        const std::unique_ptr<SerialPort> port = platform_.makeSerialPort();
        SerialTransferControl control(*port, win32ComDeviceName);
        control.setDevicePath(name.device);
        control.setPacketTimeout(options_.packetTimeoutSeconds);
        control.setProgressHook([this](const TransferReport& progress) { output_.transfer(progress); });
        control.setIdleHook([] { return interruptRaised() ? IdleAction::abort : IdleAction::proceed; });
        setAbortTarget(&control);
        struct AbortTargetReset {
            ~AbortTargetReset() { setAbortTarget(nullptr); }
        } resetAbortTarget;

        InterruptibleControl guarded(control, interruptFlag());
        UpdaterState state;
        state.ComPort = name.comPort;
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(std::filesystem::path(options_.firmware), ec);
        state.FileToUpLoad = ec ? options_.firmware : absolute.string();

        Phase phase = Phase::opening;
        std::string sequenceMessage;
        guarded.onOpened = [&] {
            if (phase != Phase::opening) return;
            phase = options_.wake ? Phase::waking : Phase::waiting;
            if (options_.wake) output_.line("Waking the controller on " + name.label + " (9600, 57600, 19200 baud)");
        };
        ConsoleUploadHost host(state, interruptFlag());
        host.onStatus = [&](std::string_view text) {
            if (text == kStatusWaiting) {
                phase = Phase::waiting;
                output_.line("Waiting for the bootloader on " + name.label + " (time-out " +
                             std::to_string(options_.timeoutSeconds) + " s)");
            } else if (text == kStatusStartReceived) {
                phase = Phase::sending;
                output_.line("Start character received");
            } else if (text == kStatusUploadStarted) {
                output_.line("Sending " + options_.firmware + " (" + std::to_string(report_.bytesTotal) +
                             " bytes, " + std::to_string(report_.blocksTotal) + " blocks) with XMODEM");
            }
        };
        host.onMessage = [&](std::string_view text, std::string_view) { sequenceMessage = text; };

        UploadOptions uploadOptions;
        uploadOptions.timeoutLimit = options_.timeoutSeconds;
        uploadOptions.wake = options_.wake;
        // A controller already in its bootloader needs no time to start it: listen at once.
        if (!options_.wake) uploadOptions.listenPauseMs = 0;
        uploadOptions.applicationTitle = std::string(kProgramName);
        UploadSequence sequence(guarded, host, state, uploadOptions);

        const auto started = std::chrono::steady_clock::now();
        const UploadResult result = sequence.run();
        report_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        report_.transfer = output_.lastProgress();
        report_.transferSeconds = output_.transferSeconds();
        report_.transferStatus = result.transferStatus;

        const Outcome outcome = outcomeOf(result, interruptRaised());
        const TransferReport& transfer = control.lastTransfer();
        switch (outcome) {
        case Outcome::success: {
            const XmodemProgress& done = transfer.progress;
            return finish(outcome, std::string(kSuccessMessage) + ": " + std::to_string(done.bytesAcked) +
                                       " bytes, " + std::to_string(done.blocksAcked) + " blocks (" +
                                       (done.mode == XmodemMode::crc16 ? "CRC-16" : "checksum") + "), " +
                                       std::to_string(done.retries) + " retries, " + secondsText(report_.seconds));
        }
        case Outcome::portFailed: {
            const std::string why = control.lastError();
            return finish(outcome, why.empty() ? portFailureMessage(name.comPort) : why);
        }
        case Outcome::timedOut:
            return finish(outcome, (sequenceMessage.empty() ? std::string(kTimeoutMessage) : sequenceMessage) +
                                       " (no start character \"%\" on " + name.label + " within " +
                                       std::to_string(options_.timeoutSeconds) + " s)");
        case Outcome::firmwareUnreadable:
            return finish(outcome, "cannot read firmware: " + transfer.detail);
        case Outcome::transferFailed: {
            if (!result.transferStatus) return finish(outcome, "transfer failed: " + control.lastError());
            return finish(outcome, "transfer failed: " + std::string(transferStatusText(*result.transferStatus)) +
                                       " (" + transfer.detail + ")");
        }
        case Outcome::interrupted:
            switch (phase) {
            case Phase::opening: return finish(outcome, "interrupted before the port was opened");
            case Phase::waking: return finish(outcome, "interrupted while waking the controller; port closed");
            case Phase::waiting: return finish(outcome, "interrupted while waiting for the bootloader; port closed");
            case Phase::sending: break;
            }
            if (transfer.status == kTransferAborted)
                return finish(outcome, "interrupted during the transfer; cancel sent to the controller, port closed");
            if (transfer.status == kTransferComplete)
                return finish(outcome, "interrupted as the transfer ended; not counted as a success, port closed");
            return finish(outcome, "interrupted before the transfer began; port closed");
        default:
            return finish(outcome, "internal error: unexpected upload result");
        }
    }

    int finish(Outcome outcome, const std::string& message) {
        report_.outcome = outcome;
        report_.message = message;
        if (outcome == Outcome::success)
            output_.line(message);
        else
            output_.error(std::string(kProgramName) + ": " + message);
        if (options_.json) platform_.write(Stream::out, jsonResult(report_) + "\n");
        return exitCode(outcome);
    }

    const ParseResult& parsed_;
    const CliOptions& options_;
    Platform& platform_;
    Stream humanStream_;
    ConsoleOutput output_;
    RunReport report_;
};

} // namespace

int runUploadCommand(const std::vector<std::string>& args, Platform& platform) {
    const ParseResult parsed = parseCommandLine(args);
    Command command(parsed, platform);
    return command.run();
}

} // namespace qz::cli
