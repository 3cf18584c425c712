// qz450-upload's portable parts: command line, outcome mapping, progress texts, JSON, the
// console host driving the real upload sequence, firmware checks and COM port names.

#include "updater/cli/cli_options.h"
#include "updater/cli/console_host.h"
#include "updater/cli/console_output.h"
#include "updater/cli/exit_codes.h"
#include "updater/cli/interruptible_control.h"
#include "updater/cli/json_result.h"
#include "updater/cli/port_names.h"
#include "updater/cli/progress_format.h"
#include "updater/cli/upload_command.h"

#include "updater/tests/support/call_log.h"
#include "updater/tests/support/recording_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace qz::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ParseResult parse(std::vector<std::string> args) { return parseCommandLine(args); }

TEST(CliOptions, TakesOperandsAndEveryOption) {
    const ParseResult parsed =
        parse({"--timeout", "9", "--no-wake", "--json", "-q", "--packet-timeout=0.5", "/dev/ttyUSB0", "fw.bin"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.ports, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(parsed.options.firmware, "fw.bin");
    EXPECT_EQ(parsed.options.timeoutSeconds, 9);
    EXPECT_FALSE(parsed.options.wake);
    EXPECT_TRUE(parsed.options.json);
    EXPECT_TRUE(parsed.options.quiet);
    EXPECT_FLOAT_EQ(parsed.options.packetTimeoutSeconds, 0.5f);

    const ParseResult defaults = parse({"COM3", "fw.bin"});
    ASSERT_TRUE(defaults.ok());
    EXPECT_EQ(defaults.options.timeoutSeconds, 5); // the window's
    EXPECT_TRUE(defaults.options.wake);
    EXPECT_FALSE(defaults.options.json);

    // After "--" a firmware name may start with a dash.
    const ParseResult dashed = parse({"--timeout=3", "--", "COM1", "-fw.bin"});
    ASSERT_TRUE(dashed.ok()) << dashed.error;
    EXPECT_EQ(dashed.options.firmware, "-fw.bin");
    EXPECT_EQ(dashed.options.timeoutSeconds, 3);

    EXPECT_TRUE(parse({"--list-ports"}).options.listPorts);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"-V"}).options.version);

    const ParseResult station = parse({"--loop", "--no-wake", "--count", "3", "COM1", "COM2", "fw.bin"});
    ASSERT_TRUE(station.ok()) << station.error;
    EXPECT_TRUE(station.options.loop);
    EXPECT_EQ(station.options.count, 3u);
    EXPECT_EQ(station.options.ports, (std::vector<std::string>{"COM1", "COM2"}));
}

TEST(CliOptions, PortsComeFromOperandsAListAndAFile) {
    namespace fs = std::filesystem;
    const fs::path list =
        fs::temp_directory_path() / ("qz_ports_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::ofstream(list) << "# fixture 1 to 3\r\n/dev/ttyUSB1\n\n  /dev/ttyUSB2  \n#/dev/ttyUSB9\n/dev/ttyUSB3\n";
    const std::vector<std::string> fromFile = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};

    ParseResult parsed = parse({"/dev/ttyUSB0", "--ports", "@" + list.string(), "fw.bin"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.ports, fromFile);
    EXPECT_EQ(parsed.options.firmware, "fw.bin");
    parsed = parse({"/dev/ttyUSB0", "--ports=" + list.string(), "fw.bin"}); // a file needs no "@"
    EXPECT_EQ(parsed.options.ports, fromFile);

    parsed = parse({"--ports", "COM1, COM2,3", "--ports", "COM4", "fw.bin"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.ports, (std::vector<std::string>{"COM1", "COM2", "3", "COM4"}));

    EXPECT_FALSE(parse({"--ports", "@" + list.string() + ".missing", "fw.bin"}).ok());
    fs::remove(list);
}

TEST(CliOptions, RefusesBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"COM1"},
        {"--ports", "COM1"},
        {"--ports", "COM1,,COM2", "a.bin"},
        {"--ports", "", "a.bin"},
        {"--loop", "COM1", "a.bin"},
        {"--loop", "--no-wake", "--timeout", "9", "COM1", "a.bin"},
        {"--count", "2", "--no-wake", "COM1", "a.bin"},
        {"--loop", "--no-wake", "--count", "0", "COM1", "a.bin"},
        {"COM1", "", "a.bin"},
        {"--timeout", "0", "COM1", "a.bin"},
        {"--timeout", "255", "COM1", "a.bin"},
        {"--timeout", "5s", "COM1", "a.bin"},
        {"--timeout=-1", "COM1", "a.bin"},
        {"COM1", "a.bin", "--timeout"},
        {"--packet-timeout", "0.05", "COM1", "a.bin"},
        {"--packet-timeout", "1e1", "COM1", "a.bin"},
        {"--json=yes", "COM1", "a.bin"},
        {"--wake", "COM1", "a.bin"},
        {"--list-ports", "COM1"},
        {"", "a.bin"},
    };
    for (const auto& args : bad) {
        const ParseResult parsed = parseCommandLine(args);
        std::string joined;
        for (const auto& arg : args) joined += "[" + arg + "]";
        EXPECT_FALSE(parsed.ok()) << joined;
    }
    // --json is still known on error, so that the error comes as JSON too.
    const ParseResult withJson = parse({"--json", "--bogus", "COM1", "a.bin"});
    EXPECT_FALSE(withJson.ok());
    EXPECT_TRUE(withJson.options.json);
    EXPECT_NE(withJson.error.find("--bogus"), std::string::npos);
    // The station's refusal says why.
    EXPECT_NE(parse({"--loop", "COM1", "a.bin"}).error.find("flash it again"), std::string::npos);
}

TEST(CliOptions, HelpListsEveryExitCode) {
    const std::string help = usageText();
    for (const Outcome outcome : {Outcome::success, Outcome::internalError, Outcome::usageError,
                                  Outcome::firmwareUnreadable, Outcome::portFailed, Outcome::timedOut,
                                  Outcome::transferFailed, Outcome::interrupted, Outcome::mixedFailures}) {
        EXPECT_NE(help.find("\n  " + std::to_string(exitCode(outcome)) + " "), std::string::npos)
            << outcomeName(outcome);
    }
}

TEST(ExitCodes, OneCodePerOutcomeAndInterruptWins) {
    std::set<int> codes;
    std::set<std::string_view> names;
    const Outcome all[] = {Outcome::success,     Outcome::usageError,    Outcome::firmwareUnreadable,
                           Outcome::portFailed,  Outcome::timedOut,      Outcome::transferFailed,
                           Outcome::interrupted, Outcome::internalError, Outcome::mixedFailures};
    for (const Outcome outcome : all) {
        codes.insert(exitCode(outcome));
        names.insert(outcomeName(outcome));
    }
    EXPECT_EQ(codes.size(), std::size(all));
    EXPECT_EQ(names.size(), std::size(all));
    EXPECT_EQ(exitCode(Outcome::success), 0);

    EXPECT_EQ(outcomeOf({UploadOutcome::Success, TransferStatus::complete}, false), Outcome::success);
    EXPECT_EQ(outcomeOf({UploadOutcome::PortFailed, std::nullopt}, false), Outcome::portFailed);
    EXPECT_EQ(outcomeOf({UploadOutcome::TimedOut, std::nullopt}, false), Outcome::timedOut);
    EXPECT_EQ(outcomeOf({UploadOutcome::Cancelled, std::nullopt}, false), Outcome::interrupted);
    EXPECT_EQ(outcomeOf({UploadOutcome::TransferFailed, TransferStatus::cancelled}, false), Outcome::transferFailed);
    EXPECT_EQ(outcomeOf({UploadOutcome::TransferFailed, TransferStatus::timedOut}, false), Outcome::transferFailed);
    EXPECT_EQ(outcomeOf({UploadOutcome::TransferFailed, std::nullopt}, false), Outcome::transferFailed);
    EXPECT_EQ(outcomeOf({UploadOutcome::TransferFailed, TransferStatus::fileUnreadable}, false),
              Outcome::firmwareUnreadable);
    EXPECT_EQ(outcomeOf({UploadOutcome::TransferFailed, TransferStatus::aborted}, false), Outcome::interrupted);
    // After Ctrl-C nothing counts as success, not even a transfer that just completed.
    EXPECT_EQ(outcomeOf({UploadOutcome::Success, TransferStatus::complete}, true), Outcome::interrupted);
    EXPECT_EQ(outcomeOf({UploadOutcome::PortFailed, std::nullopt}, true), Outcome::interrupted);

    // Several ports: the shared failure, else the mixed one; Ctrl-C on any port wins.
    using O = Outcome;
    const auto combined = [](std::vector<Outcome> outcomes) { return combinedOutcome(outcomes); };
    EXPECT_EQ(combined({}), O::success);
    EXPECT_EQ(combined({O::success, O::success}), O::success);
    EXPECT_EQ(combined({O::success, O::timedOut, O::success, O::timedOut}), O::timedOut);
    EXPECT_EQ(combined({O::timedOut, O::success, O::portFailed}), O::mixedFailures);
    EXPECT_EQ(combined({O::timedOut, O::interrupted, O::portFailed}), O::interrupted);
}

XmodemProgress progressAt(std::size_t blocks, std::size_t total, std::uint64_t bytesTotal, unsigned retries = 0) {
    XmodemProgress progress;
    progress.phase = XmodemPhase::sendingBlocks;
    progress.mode = XmodemMode::crc16;
    progress.blocksTotal = total;
    progress.blocksAcked = blocks;
    progress.bytesTotal = bytesTotal;
    progress.bytesAcked = std::min<std::uint64_t>(blocks * 128, bytesTotal);
    progress.retries = retries;
    return progress;
}

TEST(ProgressFormat, UnitsDurationsAndRates) {
    EXPECT_EQ(formatBytes(0), "0 B");
    EXPECT_EQ(formatBytes(1023), "1023 B");
    EXPECT_EQ(formatBytes(1024), "1.0 KiB");
    EXPECT_EQ(formatBytes(65536), "64.0 KiB");
    EXPECT_EQ(formatBytes(3 * 1024 * 1024 + 512 * 1024), "3.5 MiB");
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(0.2), "0:01"); // rounded up: "0:00" only when nothing is left
    EXPECT_EQ(formatDuration(59.5), "1:00");
    EXPECT_EQ(formatDuration(3723), "1:02:03");

    const XmodemProgress half = progressAt(256, 512, 65536);
    ASSERT_TRUE(throughput(half, 4.0));
    EXPECT_DOUBLE_EQ(*throughput(half, 4.0), 8192.0);
    EXPECT_DOUBLE_EQ(*secondsLeft(half, 4.0), 4.0);
    EXPECT_FALSE(throughput(progressAt(0, 512, 65536), 4.0)); // nothing acknowledged yet
    EXPECT_FALSE(throughput(half, 0.0));
    EXPECT_EQ(percentDone(progressAt(511, 512, 65500)), 99);
    EXPECT_EQ(percentDone(progressAt(512, 512, 65500)), 100);
}

TEST(ProgressFormat, TerminalAndPlainLinesShowEveryFigure) {
    const XmodemProgress half = progressAt(256, 512, 65536, 3);
    const std::string line = terminalProgressLine(half, 4.0);
    EXPECT_EQ(line.substr(0, 22), "[##########..........]");
    for (const char* part : {" 50%", "256/512 blk", "32.0 KiB", "8.0 KiB/s", "3 retries", "0:04 left"})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
    EXPECT_LT(line.size(), 80u);

    EXPECT_EQ(plainProgressLine(half, 4.0),
              "Sent  50%: 256/512 blocks, 32768/65536 bytes, 8.0 KiB/s, 3 retries, 0:04 left");
    // Unknown rate: no division by zero, no made-up time left.
    const std::string start = terminalProgressLine(progressAt(0, 512, 65536), 0.0);
    EXPECT_NE(start.find("-- B/s"), std::string::npos);
    EXPECT_NE(start.find("-:-- left"), std::string::npos);
}

TEST(ProgressFormat, TenthsAreReportedOnceEach) {
    TenthMilestones tenths;
    std::vector<int> reached;
    for (std::size_t block = 0; block <= 512; ++block)
        if (const auto tenth = tenths.reached(progressAt(block, 512, 65536))) reached.push_back(*tenth);
    EXPECT_EQ(reached, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    TenthMilestones jumpy;
    EXPECT_EQ(jumpy.reached(progressAt(1, 3, 300)), 4); // 128 of 300 bytes: 42%
    EXPECT_EQ(jumpy.reached(progressAt(1, 3, 300)), std::nullopt);
    EXPECT_EQ(jumpy.reached(progressAt(3, 3, 300)), 10);
}

TEST(ConsoleOutputTest, PlainLinesAtTenthsRedrawnLineOnTerminalErrorsEvenWhenQuiet) {
    auto now = Clock::time_point{};
    const auto clock = [&now] { return now; };
    std::string human;
    std::string errors;
    const auto toHuman = [&human](std::string_view text) { human += text; };
    const auto toErrors = [&errors](std::string_view text) { errors += text; };

    TransferReport report;
    report.running = true;
    const auto feed = [&](ConsoleOutput& output) {
        report.progress = progressAt(0, 20, 2560);
        report.progress.phase = XmodemPhase::waitingForReceiver;
        output.transfer(report);
        for (std::size_t block = 0; block <= 20; ++block) {
            now += 50ms;
            report.progress = progressAt(block, 20, 2560);
            output.transfer(report);
        }
        report.running = false;
        report.progress.phase = XmodemPhase::finished;
        output.transfer(report);
        report.running = true;
    };

    ConsoleOutput plain(toHuman, toErrors, false, false, clock);
    feed(plain);
    EXPECT_EQ(std::count(human.begin(), human.end(), '\n'), 10);
    EXPECT_EQ(human.find('\r'), std::string::npos);
    EXPECT_NE(human.find("Sent 100%: 20/20 blocks, 2560/2560 bytes"), std::string::npos);
    ASSERT_TRUE(plain.transferSeconds());
    EXPECT_DOUBLE_EQ(*plain.transferSeconds(), 1.0); // from the first request to the end: 20 steps of 50 ms

    human.clear();
    ConsoleOutput terminal(toHuman, toErrors, true, false, clock);
    feed(terminal);
    // Redrawn at most every 100 ms, always at the end, then the line is ended.
    const auto redraws = std::count(human.begin(), human.end(), '\r');
    EXPECT_GE(redraws, 10);
    EXPECT_LE(redraws, 12);
    EXPECT_EQ(std::count(human.begin(), human.end(), '\n'), 1);
    EXPECT_EQ(human.back(), '\n');
    EXPECT_NE(human.rfind("100% 20/20 blk"), std::string::npos);

    human.clear();
    ConsoleOutput quiet(toHuman, toErrors, true, true, clock);
    feed(quiet);
    quiet.line("Waiting");
    quiet.error("qz450-upload: broken");
    EXPECT_EQ(human, "");
    EXPECT_EQ(errors, "qz450-upload: broken\n");

    // An error while a progress line is drawn starts on a fresh line.
    human.clear();
    ConsoleOutput midway(toHuman, toErrors, true, false, clock);
    report.progress = progressAt(5, 20, 2560);
    midway.transfer(report);
    midway.error("x");
    EXPECT_EQ(human.back(), '\n');
}

TEST(JsonResult, EscapesAndReportsEveryField) {
    EXPECT_EQ(jsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\""); // valid UTF-8 kept
    EXPECT_EQ(jsonString("caf\xe9"), "\"caf\\ufffd\"");      // a lone ANSI byte
    EXPECT_EQ(jsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\""); // overlong form

    RunReport report;
    report.outcome = Outcome::transferFailed;
    report.message = "transfer failed: cancelled by the receiver";
    report.port = "COM3";
    report.firmware = "C:\\fw\\a.bin";
    report.bytesTotal = 1000;
    report.blocksTotal = 8;
    report.transfer = progressAt(3, 8, 1000, 2);
    report.transferStatus = TransferStatus::cancelled;
    report.seconds = 2.5;
    report.transferSeconds = 1.25;
    EXPECT_EQ(jsonResult(report), "{\"outcome\":\"transfer_failed\",\"exit_code\":6,"
                                  "\"message\":\"transfer failed: cancelled by the receiver\",\"port\":\"COM3\","
                                  "\"firmware\":\"C:\\\\fw\\\\a.bin\",\"bytes\":384,\"bytes_total\":1000,\"blocks\":3,"
                                  "\"blocks_total\":8,\"retries\":2,\"seconds\":2.500,\"transfer_seconds\":1.250,"
                                  "\"mode\":\"crc16\",\"transfer_status\":1001}");

    RunReport early;
    early.outcome = Outcome::timedOut;
    const std::string json = jsonResult(early);
    EXPECT_NE(json.find("\"transfer_seconds\":null"), std::string::npos);
    EXPECT_NE(json.find("\"mode\":null"), std::string::npos);
    EXPECT_NE(json.find("\"transfer_status\":null"), std::string::npos);
    EXPECT_NE(json.find("\"exit_code\":5"), std::string::npos);
}

// The console host with a virtual clock that moves only when the host pauses.
struct VirtualTime {
    Clock::time_point now{};
    std::function<void()> onPause;
    ConsoleUploadHost::Clock clock() {
        return [this] { return now; };
    }
    ConsoleUploadHost::Sleeper sleeper() {
        return [this](std::chrono::milliseconds duration) {
            now += duration;
            if (onPause) onPause();
        };
    }
};

TEST(ConsoleHost, TicksOncePerSecondWhileTheTimerRuns) {
    UpdaterState state;
    std::atomic<bool> interrupted{false};
    VirtualTime time;
    ConsoleUploadHost host(state, interrupted, time.clock(), time.sleeper());

    for (int i = 0; i < 3000; ++i) host.pumpMessages(); // 3 s, timer off
    EXPECT_EQ(state.SerialTimer, 0);

    host.setTimerEnabled(true);
    for (int i = 0; i < 3500; ++i) host.pumpMessages(); // 1 ms per pump
    EXPECT_EQ(state.SerialTimer, 3);

    // A long pause is not made up for: one tick at the next pump, then the rhythm goes on.
    time.now += 2500ms;
    host.pumpMessages();
    EXPECT_EQ(state.SerialTimer, 4);
    for (int i = 0; i < 1000; ++i) host.pumpMessages();
    EXPECT_EQ(state.SerialTimer, 5);

    host.setTimerEnabled(false);
    for (int i = 0; i < 3000; ++i) host.pumpMessages();
    EXPECT_EQ(state.SerialTimer, 5);
}

TEST(ConsoleHost, SleepBlocksUnlessInterrupted) {
    UpdaterState state;
    std::atomic<bool> interrupted{false};
    VirtualTime time;
    ConsoleUploadHost host(state, interrupted, time.clock(), time.sleeper());
    host.sleep(500);
    EXPECT_EQ(time.now - Clock::time_point{}, 500ms);

    time.onPause = [&] { interrupted = true; };
    const auto before = time.now;
    host.sleep(500);
    EXPECT_LT(time.now - before, 100ms);
    EXPECT_TRUE(host.cancelRequested());
}

// The real upload sequence over a recording control, hosted by the console host.
struct SequenceRig {
    test::CallLog log;
    test::RecordingControl recorder{log};
    std::atomic<bool> interrupted{false};
    InterruptibleControl control{recorder, interrupted};
    UpdaterState state;
    VirtualTime time;
    ConsoleUploadHost host{state, interrupted, time.clock(), time.sleeper()};
    std::vector<std::string> messages;

    SequenceRig() {
        state.ComPort = 1;
        state.FileToUpLoad = "fw.bin";
        host.onMessage = [this](std::string_view text, std::string_view) { messages.emplace_back(text); };
    }
    // Opens that reached the port.
    std::size_t opened() const { return log.withPrefix("PortOpen=1").size(); }
    UploadResult run(std::uint8_t limit = 5) {
        UploadOptions options;
        options.timeoutLimit = limit;
        return UploadSequence(control, host, state, options).run();
    }
};

TEST(ConsoleHostSequence, SilentControllerTimesOutAfterTheLimitSeconds) {
    SequenceRig rig;
    const auto start = rig.time.now;
    const UploadResult result = rig.run(3);
    EXPECT_EQ(result.outcome, UploadOutcome::TimedOut);
    EXPECT_EQ(rig.messages, std::vector<std::string>{std::string(kTimeoutMessage)});
    // The wait gives up at the fourth tick after the counter was cleared in the third pass.
    const auto waited = rig.time.now - start;
    EXPECT_GT(waited, 3s);
    EXPECT_LT(waited, 5s);
    EXPECT_FALSE(rig.recorder.isOpen());
    EXPECT_FALSE(rig.host.timerEnabled());
    EXPECT_EQ(rig.opened(), 5u); // opening, three wake-up passes, the listen
}

TEST(ConsoleHostSequence, CtrlCDuringTheWakeUpStopsTheLineAndClosesThePort) {
    SequenceRig rig;
    // Ctrl-C during the first pause of the first wake-up pass.
    rig.time.onPause = [&rig] { rig.interrupted = true; };
    const UploadResult result = rig.run();
    EXPECT_EQ(result.outcome, UploadOutcome::Cancelled);
    const auto outputs = rig.log.withPrefix("Output=");
    EXPECT_TRUE(outputs.empty()) << outputs.front();
    EXPECT_FALSE(rig.log.contains("SendFile"));
    EXPECT_FALSE(rig.recorder.isOpen());
    EXPECT_EQ(rig.opened(), 2u); // the opening and the first pass, before its first pause
}

TEST(ConsoleHostSequence, CtrlCWhileWaitingEndsTheWaitAtOnce) {
    SequenceRig rig;
    int polls = 0;
    rig.recorder.inputSource = [&] {
        if (++polls == 50) rig.interrupted = true;
        return std::string();
    };
    const UploadResult result = rig.run();
    EXPECT_EQ(result.outcome, UploadOutcome::Cancelled);
    EXPECT_EQ(polls, 50);
    EXPECT_FALSE(rig.log.contains("Output={"));
    EXPECT_FALSE(rig.recorder.isOpen());
    EXPECT_TRUE(rig.messages.empty());
}

TEST(ConsoleHostSequence, WaitsOnTheLineBetweenPollsAndStopsWhenTheLineIsGone) {
    SequenceRig rig;
    std::vector<std::chrono::milliseconds> waits;
    rig.host.waitForInput = [&](std::chrono::milliseconds limit) {
        waits.push_back(limit);
        rig.time.now += limit; // nothing comes
    };
    const auto start = rig.time.now;
    EXPECT_EQ(rig.run(3).outcome, UploadOutcome::TimedOut);
    // The time-out comes as it does with a poll every millisecond, without that many polls.
    EXPECT_GT(rig.time.now - start, 3s);
    EXPECT_LT(rig.time.now - start, 5s);
    EXPECT_GT(waits.size(), 100u);
    EXPECT_LT(waits.size(), 400u);
    EXPECT_TRUE(std::all_of(waits.begin(), waits.end(), [](auto limit) { return limit >= 1ms && limit <= 20ms; }));

    SequenceRig unplugged;
    int polls = 0;
    unplugged.recorder.inputSource = [&] {
        ++polls;
        return std::string();
    };
    unplugged.host.lineLost = [&] { return polls >= 5; };
    EXPECT_EQ(unplugged.run().outcome, UploadOutcome::Cancelled);
    EXPECT_EQ(polls, 5);
    EXPECT_FALSE(unplugged.log.contains("Output={"));
    EXPECT_FALSE(unplugged.recorder.isOpen());
}

TEST(Firmware, OnlyReadableNonEmptyFilesWithinTheLimit) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() /
                         ("qz_cli_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir);
    const auto write = [](const fs::path& path, std::size_t size) {
        std::ofstream out(path, std::ios::binary);
        out << std::string(size, 'x');
    };
    std::string error;

    write(dir / "ok.bin", 1000);
    EXPECT_EQ(checkFirmware((dir / "ok.bin").string(), error), 1000u) << error;

    EXPECT_FALSE(checkFirmware((dir / "missing.bin").string(), error));
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;

    EXPECT_FALSE(checkFirmware(dir.string(), error));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;

    write(dir / "empty.bin", 0);
    EXPECT_FALSE(checkFirmware((dir / "empty.bin").string(), error));
    EXPECT_NE(error.find("empty"), std::string::npos) << error;

    // At the limit is fine, one byte more is not (sparse files: nothing is written).
    write(dir / "big.bin", 0);
    fs::resize_file(dir / "big.bin", SerialTransferControl::kMaxImageSize);
    EXPECT_EQ(checkFirmware((dir / "big.bin").string(), error), SerialTransferControl::kMaxImageSize) << error;
    fs::resize_file(dir / "big.bin", SerialTransferControl::kMaxImageSize + 1);
    EXPECT_FALSE(checkFirmware((dir / "big.bin").string(), error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_NE(error.find((dir / "big.bin").string()), std::string::npos) << error;

    fs::remove_all(dir);
}

TEST(PortNames, ComPortsAsTheWindowNumbersThem) {
    EXPECT_EQ(comPortNumber("COM3"), 3);
    EXPECT_EQ(comPortNumber("com3"), 3);
    EXPECT_EQ(comPortNumber("3"), 3);
    EXPECT_EQ(comPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(comPortNumber("COM255"), 255);
    for (const char* bad : {"", "COM", "COM0", "0", "COM256", "COM3x", "COMx", "COM-1", "07", "/dev/ttyS0", "LPT1"})
        EXPECT_EQ(comPortNumber(bad), 0) << bad;
}

} // namespace
} // namespace qz::cli
