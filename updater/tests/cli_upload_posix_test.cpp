// qz450-upload as a user runs it: the built tool against qz450sim on a pty, one simulator per
// port. Each test checks the exit code, the JSON results and what the simulators saw on the wire.

#include "updater/tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kTool = std::string(QZ_BUILD_DIR) + "/qz450-upload";

// The wake-up passes and the listen, as the window puts them on the wire.
const std::vector<std::string> kWakeTrace = {
    "RX 9600 0d372a3435303236330d",
    "RX 57600 0d372a3435303236330d",
    "RX 19200 0d372a3435303236330d",
    "RX 57600 7b",
};

// Everything the tool sent, in order, whatever speed the simulator booked it at.
std::string sentHex(const std::vector<std::string>& trace) {
    std::string hex;
    for (const auto& line : trace)
        if (line.starts_with("RX ")) hex += line.substr(line.rfind(' ') + 1);
    return hex;
}

// The three wake-up passes and nothing else.
const std::string kWakeOnlyHex = "0d372a3435303236330d0d372a3435303236330d0d372a3435303236330d";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A child process with stdout and stderr in files.
class Child {
public:
    Child(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // The exit code (128 + signal when killed); -1 when it did not end in time (then killed).
    int wait(std::chrono::milliseconds limit = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

// Waits until the file holds `text`; false after the limit.
bool waitForText(const fs::path& path, const std::string& text, std::chrono::milliseconds limit = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (readFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// A top-level field of a one-line JSON object, or a marker that cannot match a real value.
std::string field(const std::string& json, const std::string& name) {
    return qz::test::jsonField(json, name).value_or("<no " + name + ">");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Port -> outcome of the JSON lines; a port named twice is kept twice apart by a suffix.
std::map<std::string, std::string> outcomesByPort(const std::string& json) {
    std::map<std::string, std::string> outcomes;
    for (const auto& line : linesOf(json)) {
        std::string port = field(line, "port");
        while (outcomes.count(port)) port += "+";
        outcomes[port] = field(line, "outcome");
    }
    return outcomes;
}

// The line settings a program finds when it opens the port.
termios lineOf(const std::string& path) {
    termios line{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) {
        EXPECT_EQ(::tcgetattr(fd, &line), 0) << path;
        ::close(fd);
    }
    return line;
}

// Closed (nobody holds the port) and its settings back as they were.
bool portIsFreeAndRestored(const std::string& path, const termios& before) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios after{};
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::tcgetattr(fd, &after) == 0;
    ::close(fd);
    return free && cfgetospeed(&after) == cfgetospeed(&before) && after.c_cflag == before.c_cflag &&
           after.c_lflag == before.c_lflag;
}

// The last bytes the tool sent, as the trace books them ("RX <speed> <hex>"); empty if none.
std::string lastSent(const std::vector<std::string>& trace) {
    const auto sent =
        std::find_if(trace.rbegin(), trace.rend(), [](const std::string& line) { return line.starts_with("RX "); });
    return sent == trace.rend() ? std::string() : *sent;
}

struct ToolRun {
    int exitCode = -1;
    std::string json; // stdout: the one JSON line
    std::string log;  // stderr: phases, progress, the error line
};

class CliUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kTool)) << kTool;
        ASSERT_TRUE(fs::exists(qz::test::SimProcess::executable()));
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("qz_cli_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        sim_.reset();
        sims_.clear();
        if (!HasFailure()) fs::remove_all(dir_);
    }

    fs::path file(const std::string& name) const { return dir_ / name; }

    std::string makeImage(std::size_t size, unsigned seed = 7) {
        std::mt19937 random(seed);
        std::string image(size, '\0');
        for (auto& byte : image) byte = static_cast<char>(random() & 0xFF);
        std::ofstream(file("fw.bin"), std::ios::binary) << image;
        return image;
    }

    // Starts the simulator (wire trace, received image) and returns its pty. It keeps serving
    // after the upload, so that the tool never sees the line hang up under it.
    std::string startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--forever",
                                         "--timeout",
                                         "30",
                                         "--trace",
                                         file("trace.txt").string(),
                                         "--out",
                                         file("received.bin").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<qz::test::SimProcess>(args);
        EXPECT_TRUE(sim_->started());
        return sim_->pty();
    }

    // The simulator's summary of the upload, once it has ended it.
    std::string simSummary() { return sim_->nextLine(20s).value_or(""); }

    // Simulator `index` of several (trace<index>.txt, received<index>.bin), serving until
    // stopped; its pty.
    std::string startSimAt(std::size_t index, std::vector<std::string> extra = {}) {
        const std::string n = std::to_string(index);
        std::vector<std::string> args = {"--forever",
                                         "--timeout",
                                         "60",
                                         "--trace",
                                         file("trace" + n + ".txt").string(),
                                         "--out",
                                         file("received" + n + ".bin").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        if (sims_.size() <= index) sims_.resize(index + 1);
        sims_[index] = std::make_unique<qz::test::SimProcess>(args);
        EXPECT_TRUE(sims_[index]->started());
        return sims_[index]->pty();
    }

    std::vector<std::string> traceAt(std::size_t index) {
        sims_[index]->stop();
        return linesOf(qz::test::normalisedTrace(file("trace" + std::to_string(index) + ".txt").string(), 1));
    }

    // The trace without times, "%" and events, one line per direction and speed.
    std::vector<std::string> normalisedTrace() {
        sim_->stop();
        std::vector<std::string> lines;
        std::istringstream in(qz::test::normalisedTrace(file("trace.txt").string(), 1));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    Child startTool(std::vector<std::string> args) {
        args.insert(args.begin(), {kTool, "--json"});
        return Child(args, file("tool.out"), file("tool.err"));
    }

    ToolRun finish(Child& tool) {
        ToolRun run;
        run.exitCode = tool.wait();
        run.json = readFile(file("tool.out"));
        run.log = readFile(file("tool.err"));
        return run;
    }

    ToolRun runTool(std::vector<std::string> args) {
        Child tool = startTool(std::move(args));
        return finish(tool);
    }

    // Runs the tool, presses Ctrl-C once its log holds every one of `texts`, and waits for it.
    ToolRun interruptOnceLogged(std::vector<std::string> args, const std::vector<std::string>& texts) {
        Child tool = startTool(std::move(args));
        for (const auto& text : texts) EXPECT_TRUE(waitForText(file("tool.err"), text)) << text;
        tool.signal(SIGINT);
        return finish(tool);
    }

    fs::path dir_;
    std::unique_ptr<qz::test::SimProcess> sim_;
    std::vector<std::unique_ptr<qz::test::SimProcess>> sims_;
};

std::string describe(const ToolRun& run) { return "stdout: " + run.json + "\nstderr:\n" + run.log; }

TEST_F(CliUpload, CrcUploadArrivesByteExactAfterTheWindowsWakeUp) {
    // 512 blocks: the block number wraps from 255 to 0 twice.
    const std::string image = makeImage(64 * 1024);
    const std::string pty = startSim();
    const ToolRun run = runTool({pty, file("fw.bin").string()});

    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(std::count(run.json.begin(), run.json.end(), '\n'), 1) << "one JSON line and nothing else";
    EXPECT_EQ(field(run.json, "outcome"), "success");
    EXPECT_EQ(field(run.json, "exit_code"), "0");
    EXPECT_EQ(field(run.json, "port"), pty);
    EXPECT_EQ(field(run.json, "bytes"), "65536");
    EXPECT_EQ(field(run.json, "blocks"), "512");
    EXPECT_EQ(field(run.json, "blocks_total"), "512");
    EXPECT_EQ(field(run.json, "retries"), "0");
    EXPECT_EQ(field(run.json, "mode"), "crc16");
    EXPECT_EQ(field(run.json, "transfer_status"), "1000");

    // Phase lines, then plain progress lines at each tenth (stderr is no terminal).
    for (const char* phase : {"Waking the controller", "Waiting for the bootloader", "Start character received",
                              "Sending", "File Transfer Complete"})
        EXPECT_NE(run.log.find(phase), std::string::npos) << phase << "\n" << run.log;
    std::size_t tenths = 0;
    for (std::size_t at = 0; (at = run.log.find("\nSent ", at)) != std::string::npos; ++at) ++tenths;
    EXPECT_EQ(tenths, 10u) << run.log;

    const std::string summary = simSummary();
    EXPECT_EQ(field(summary, "outcome"), "complete") << summary;
    EXPECT_EQ(field(summary, "wake_speeds"), "9600,57600,19200") << summary;
    EXPECT_EQ(field(summary, "listen_speed"), "57600") << summary;
    EXPECT_EQ(field(summary, "mode"), "crc") << summary;
    EXPECT_EQ(readFile(file("received.bin")), image);

    const auto trace = normalisedTrace();
    ASSERT_GE(trace.size(), kWakeTrace.size() + 1);
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 4), kWakeTrace);
    EXPECT_EQ(trace[4], "TX 57600 43");                               // the receiver's 'C'
    EXPECT_TRUE(trace[5].starts_with("RX 57600 0101fe")) << trace[5]; // block 1
}

TEST_F(CliUpload, ChecksumUploadOfAnOddSizeIsPaddedAndExact) {
    const std::string image = makeImage(1000);
    const std::string pty = startSim({"--checksum"});
    const ToolRun run = runTool({pty, file("fw.bin").string()});

    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(field(run.json, "mode"), "checksum");
    EXPECT_EQ(field(run.json, "bytes"), "1000");
    EXPECT_EQ(field(run.json, "blocks"), "8");
    const std::string summary = simSummary();
    EXPECT_EQ(field(summary, "mode"), "checksum") << summary;
    const std::string received = readFile(file("received.bin"));
    ASSERT_EQ(received.size(), 1024u);
    EXPECT_EQ(received.substr(0, 1000), image);
    EXPECT_EQ(received.substr(1000), std::string(24, '\x1a'));
}

TEST_F(CliUpload, NoWakeOnlyListens) {
    makeImage(300);
    const std::string pty = startSim({"--awake"});
    const ToolRun run = runTool({"--no-wake", pty, file("fw.bin").string()});
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_EQ(run.log.find("Waking"), std::string::npos);
    const auto trace = normalisedTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "RX 57600 7b");
}

TEST_F(CliUpload, SilentControllerTimesOut) {
    makeImage(300);
    const std::string pty = startSim({"--silent"});
    const ToolRun run = runTool({"--timeout", "1", pty, file("fw.bin").string()});

    EXPECT_EQ(run.exitCode, 5) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "timeout");
    EXPECT_EQ(field(run.json, "transfer_status"), "null");
    EXPECT_NE(run.log.find("qz450-upload: Serial Timeout. Please check QZ450 serial connection"), std::string::npos)
        << run.log;
    EXPECT_EQ(sentHex(normalisedTrace()), kWakeOnlyHex) << "the wake-up, and no '{'";
}

TEST_F(CliUpload, ControllerCancelEndsTheTransferWithItsCause) {
    makeImage(64 * 128);
    const std::string pty = startSim({"--cancel-after", "10"});
    const ToolRun run = runTool({pty, file("fw.bin").string()});
    EXPECT_EQ(run.exitCode, 6) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "transfer_failed");
    EXPECT_EQ(field(run.json, "transfer_status"), "1001");
    EXPECT_EQ(field(run.json, "blocks"), "10");
    EXPECT_NE(field(run.json, "message").find("cancelled by the receiver"), std::string::npos) << run.json;
    EXPECT_EQ(field(simSummary(), "outcome"), "cancelled");
}

TEST_F(CliUpload, ReceiverSilentMidTransferEndsItWithItsCause) {
    makeImage(64 * 128);
    // The receiver goes deaf after 5 blocks: ten unanswered tries of block 6.
    const std::string pty = startSim({"--stop-after", "5", "--transfer-timeout", "1"});
    const ToolRun run = runTool({"--packet-timeout", "0.2", pty, file("fw.bin").string()});
    EXPECT_EQ(run.exitCode, 6) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "transfer_failed");
    EXPECT_EQ(field(run.json, "transfer_status"), "1002");
    EXPECT_EQ(field(run.json, "blocks"), "5");
    EXPECT_EQ(field(run.json, "retries"), "9");
    EXPECT_NE(field(run.json, "message").find("stopped answering"), std::string::npos) << run.json;
}

TEST_F(CliUpload, NoisyLineStillDeliversTheExactImage) {
    const std::string image = makeImage(40 * 128 + 5);
    const std::string pty = startSim({"--bit-errors", "0.002", "--dup-ack", "0.05", "--seed", "3"});
    const ToolRun run = runTool({pty, file("fw.bin").string()});
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    const std::string summary = simSummary();
    EXPECT_NE(field(summary, "bit_flips"), "0") << "the line was not noisy: " << summary;
    EXPECT_NE(field(run.json, "retries"), "0") << run.json;
    EXPECT_EQ(readFile(file("received.bin")).substr(0, image.size()), image);
}

TEST_F(CliUpload, CtrlCWhileWaitingStopsCleanlyAndRestoresThePort) {
    makeImage(300);
    const std::string pty = startSim({"--silent"});
    const termios before = lineOf(pty);
    const ToolRun run = interruptOnceLogged({pty, file("fw.bin").string()}, {"Waiting for the bootloader"});

    EXPECT_EQ(run.exitCode, 130) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "interrupted");
    EXPECT_NE(run.log.find("interrupted while waiting for the bootloader"), std::string::npos) << run.log;
    EXPECT_TRUE(portIsFreeAndRestored(pty, before));
    EXPECT_EQ(sentHex(normalisedTrace()), kWakeOnlyHex) << "the wake-up, and no '{'";
}

TEST_F(CliUpload, CtrlCDuringTheTransferCancelsIt) {
    makeImage(64 * 1024);
    // The paced line makes the transfer last seconds.
    const std::string pty = startSim({"--pace"});
    const ToolRun run = interruptOnceLogged({pty, file("fw.bin").string()}, {"Sent  10%"});

    EXPECT_EQ(run.exitCode, 130) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "interrupted");
    EXPECT_EQ(field(run.json, "transfer_status"), "1007");
    EXPECT_NE(field(run.json, "blocks"), "512");
    EXPECT_NE(run.log.find("cancel sent to the controller"), std::string::npos) << run.log;
    const std::string summary = simSummary();
    EXPECT_NE(field(summary, "outcome"), "complete") << summary;
    // The last bytes the tool sent are the two CAN. (A pty hands bytes over late, so the
    // simulator may see the port's close before them and book them at the restored speed.)
    const std::string last = lastSent(normalisedTrace());
    EXPECT_TRUE(last.ends_with("1818")) << last;
}

TEST_F(CliUpload, PortsThatCannotBeUsedEndWithOneLineAndTheirCode) {
    makeImage(300);
    const std::string firmware = file("fw.bin").string();
    const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };

    ToolRun run = runTool({file("no-such-port").string(), firmware});
    EXPECT_EQ(run.exitCode, 4) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "port_failed");
    EXPECT_NE(run.log.find(file("no-such-port").string() + ": open: No such file or directory"), std::string::npos)
        << run.log;
    EXPECT_EQ(lines(run.log), 1) << run.log;

    run = runTool({firmware, firmware}); // a regular file as the port
    EXPECT_EQ(run.exitCode, 4) << describe(run);
    EXPECT_NE(run.log.find("not a serial device"), std::string::npos) << run.log;

    {
        const std::string pty = startSim();
        const int holder = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0); // another program holds the port
        run = runTool({pty, firmware});
        ::close(holder);
        EXPECT_EQ(run.exitCode, 4) << describe(run);
        EXPECT_NE(run.log.find(pty), std::string::npos) << run.log;
        EXPECT_NE(run.log.find("in use"), std::string::npos) << run.log;
    }

    // One port named twice, through a link, is refused before anything is opened.
    const std::string pty = startSim();
    fs::create_symlink(pty, file("link"));
    run = runTool({pty, file("link").string(), firmware});
    EXPECT_EQ(run.exitCode, 2) << describe(run);
    EXPECT_NE(run.log.find("the same port is given twice"), std::string::npos) << run.log;
    EXPECT_EQ(sentHex(normalisedTrace()), "");
}

TEST_F(CliUpload, BadFilesAndCommandLinesEndWithTheirCode) {
    makeImage(300);
    const std::string firmware = file("fw.bin").string();
    const auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };

    ToolRun run = runTool({"/dev/null", dir_.string()});
    EXPECT_EQ(run.exitCode, 3) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "firmware_unreadable");
    EXPECT_NE(run.log.find("is a folder"), std::string::npos) << run.log;
    EXPECT_EQ(lines(run.log), 1) << run.log;

    std::ofstream(file("empty.bin")).close();
    run = runTool({"/dev/null", file("empty.bin").string()});
    EXPECT_EQ(run.exitCode, 3) << describe(run);

    // A wrong command line: the usage line, then the error with a pointer to --help.
    run = runTool({"--timeout", "0", "/dev/null", firmware});
    EXPECT_EQ(run.exitCode, 2) << describe(run);
    EXPECT_EQ(field(run.json, "outcome"), "usage_error");
    auto log = linesOf(run.log);
    ASSERT_EQ(log.size(), 2u) << run.log;
    EXPECT_EQ(log[0], "usage: qz450-upload [options] PORT [PORT...] FIRMWARE.bin");
    EXPECT_NE(log[1].find("--help"), std::string::npos) << log[1];

    Child bare({kTool}, file("tool.out"), file("tool.err"));
    EXPECT_EQ(bare.wait(), 2);
    log = linesOf(readFile(file("tool.err")));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "usage: qz450-upload [options] PORT [PORT...] FIRMWARE.bin");
}

// --- several ports at once ------------------------------------------------------------------

TEST_F(CliUpload, FourPortsAtOnceEachGetTheWholeUploadByteExact) {
    const std::string image = makeImage(20000);
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < 4; ++i) ports.push_back(startSimAt(i));
    std::vector<std::string> args = ports;
    args.push_back(file("fw.bin").string());
    const ToolRun run = runTool(args);

    ASSERT_EQ(run.exitCode, 0) << describe(run);
    const auto outcomes = outcomesByPort(run.json);
    ASSERT_EQ(outcomes.size(), 4u) << run.json;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(outcomes.at(ports[i]), "success") << ports[i];
        EXPECT_EQ(readFile(file("received" + std::to_string(i) + ".bin")).substr(0, image.size()), image) << ports[i];
        // The same bytes, speeds and order on each wire as a single upload.
        const auto trace = traceAt(i);
        ASSERT_GE(trace.size(), kWakeTrace.size() + 2) << ports[i];
        EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 4), kWakeTrace) << ports[i];
        EXPECT_EQ(trace[4], "TX 57600 43") << ports[i];
        // Not a terminal: every line names its port; the summary table has a row per port.
        EXPECT_NE(run.log.find(ports[i] + ": Sent 100%"), std::string::npos) << run.log;
        EXPECT_NE(run.log.find("\n" + ports[i] + " "), std::string::npos) << run.log;
    }
    EXPECT_NE(run.log.find("PORT"), std::string::npos);
    EXPECT_NE(run.log.find("RETRIES"), std::string::npos);
}

TEST_F(CliUpload, FailingPortsStopNoOtherAndSetTheExitCode) {
    const std::string image = makeImage(3000);
    const std::string firmware = file("fw.bin").string();
    const std::string good1 = startSimAt(0);
    const std::string good2 = startSimAt(1);
    const std::string good3 = startSimAt(2);
    const std::string silent = startSimAt(3, {"--silent"});
    const std::string missing = file("no-such-port").string();

    // One silent port among three good ones: they succeed, the exit code is the time-out's.
    ToolRun run = runTool({"--timeout", "1", good1, silent, good2, good3, firmware});
    EXPECT_EQ(run.exitCode, 5) << describe(run);
    auto outcomes = outcomesByPort(run.json);
    EXPECT_EQ(outcomes, (std::map<std::string, std::string>{
                            {good1, "success"}, {good2, "success"}, {good3, "success"}, {silent, "timeout"}}))
        << run.json;
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(readFile(file("received" + std::to_string(i) + ".bin")).substr(0, image.size()), image);

    // One port that cannot be opened among good ones.
    run = runTool({missing, good1, good2, firmware});
    EXPECT_EQ(run.exitCode, 4) << describe(run);
    outcomes = outcomesByPort(run.json);
    EXPECT_EQ(outcomes,
              (std::map<std::string, std::string>{{good1, "success"}, {good2, "success"}, {missing, "port_failed"}}))
        << run.json;
    EXPECT_NE(run.log.find("qz450-upload: " + missing + ": serial port " + missing + ": open: No such file"),
              std::string::npos)
        << run.log;

    // Failures of different kinds: the mixed-failures code.
    run = runTool({"--timeout", "1", good3, silent, missing, firmware});
    EXPECT_EQ(run.exitCode, 7) << describe(run);
    outcomes = outcomesByPort(run.json);
    EXPECT_EQ(outcomes,
              (std::map<std::string, std::string>{{good3, "success"}, {silent, "timeout"}, {missing, "port_failed"}}))
        << run.json;
}

TEST_F(CliUpload, CtrlCMidTransferCancelsEveryPortAndRestoresIt) {
    makeImage(64 * 1024);
    std::vector<std::string> ports;
    std::vector<termios> before;
    std::vector<std::string> progress;
    for (std::size_t i = 0; i < 3; ++i) {
        ports.push_back(startSimAt(i, {"--pace"}));
        before.push_back(lineOf(ports.back()));
        progress.push_back(ports.back() + ": Sent  10%");
    }
    std::vector<std::string> args = ports;
    args.push_back(file("fw.bin").string());
    const ToolRun run = interruptOnceLogged(args, progress);

    EXPECT_EQ(run.exitCode, 130) << describe(run);
    const auto json = linesOf(run.json);
    ASSERT_EQ(json.size(), 3u) << run.json;
    for (const auto& line : json) {
        EXPECT_EQ(field(line, "outcome"), "interrupted") << line;
        EXPECT_EQ(field(line, "transfer_status"), "1007") << line;
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_TRUE(portIsFreeAndRestored(ports[i], before[i])) << ports[i];
        const std::string last = lastSent(traceAt(i));
        EXPECT_TRUE(last.ends_with("1818")) << ports[i] << ": " << last;
    }
}

// --- station mode ---------------------------------------------------------------------------

// A board on a fixture: a simulator already in its bootloader behind a fixed link, that serves
// one upload and goes away (as a flashed board starts its firmware and is unplugged).
std::unique_ptr<qz::test::SimProcess> startBoard(const fs::path& link, const fs::path& out,
                                                 std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--awake", "--timeout", "60", "--link", link.string(), "--out", out.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    auto sim = std::make_unique<qz::test::SimProcess>(args);
    EXPECT_TRUE(sim->started());
    return sim;
}

TEST_F(CliUpload, StationFlashesBoardAfterBoardOnTwoPorts) {
    const std::string image = makeImage(5000);
    const fs::path ports[] = {file("fixture-a"), file("fixture-b")};
    auto a = startBoard(ports[0], file("a1.bin"));
    auto b = startBoard(ports[1], file("b1.bin"));
    Child tool = startTool(
        {"--loop", "--no-wake", "--count", "3", ports[0].string(), ports[1].string(), file("fw.bin").string()});
    for (int board = 2; board <= 3; ++board) {
        // The next board of each fixture starts once the last one is done.
        ASSERT_TRUE(a->wait(30s)) << "board " << board - 1 << " on A";
        ASSERT_TRUE(b->wait(30s)) << "board " << board - 1 << " on B";
        a = startBoard(ports[0], file("a" + std::to_string(board) + ".bin"));
        b = startBoard(ports[1], file("b" + std::to_string(board) + ".bin"));
    }
    const ToolRun run = finish(tool);

    ASSERT_EQ(run.exitCode, 0) << describe(run);
    const auto json = linesOf(run.json);
    ASSERT_EQ(json.size(), 6u) << "one object per board and nothing else:\n" << run.json;
    std::map<std::string, std::vector<std::string>> boards;
    for (const auto& line : json) {
        EXPECT_EQ(field(line, "outcome"), "success") << line;
        boards[field(line, "port")].push_back(field(line, "board"));
    }
    for (const auto& port : ports) {
        EXPECT_EQ(boards[port.string()], (std::vector<std::string>{"1", "2", "3"})) << port;
        EXPECT_NE(run.log.find(port.string() + ": board 3: success"), std::string::npos) << run.log;
    }
    for (const char* name : {"a1", "a2", "a3", "b1", "b2", "b3"})
        EXPECT_EQ(readFile(file(std::string(name) + ".bin")).substr(0, image.size()), image) << name;
}

TEST_F(CliUpload, StationWaitsForAPortThatVanishesAndUsesItAgain) {
    const std::string image = makeImage(64 * 1024);
    const fs::path unplugged = file("fixture-a");
    const fs::path steady = file("fixture-b");
    // A board that is pulled out mid-transfer, adapter and all.
    auto a = startBoard(unplugged, file("a1.bin"), {"--pace"});
    // Two boards in a row on the other fixture.
    auto b = startBoard(steady, file("b{n}.bin"), {"--count", "2"});
    Child tool = startTool(
        {"--loop", "--no-wake", "--count", "2", unplugged.string(), steady.string(), file("fw.bin").string()});
    ASSERT_TRUE(waitForText(file("tool.err"), unplugged.string() + ": Sent  10%"));
    // Unplugged: the device's name goes first (the link would otherwise dangle towards a pty
    // number that another program may get next), then the line.
    fs::remove(unplugged);
    a->stop(SIGKILL);
    ASSERT_TRUE(waitForText(file("tool.err"), unplugged.string() + ": waiting for the port"));
    std::this_thread::sleep_for(1500ms);
    a = startBoard(unplugged, file("a2.bin"));
    const ToolRun run = finish(tool);

    // A failed board does not end the loop; the exit code is that board's.
    EXPECT_EQ(run.exitCode, 6) << describe(run);
    std::vector<std::string> seen;
    for (const auto& line : linesOf(run.json))
        seen.push_back(field(line, "port") + " " + field(line, "board") + " " + field(line, "outcome"));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen,
              (std::vector<std::string>{unplugged.string() + " 1 transfer_failed", unplugged.string() + " 2 success",
                                        steady.string() + " 1 success", steady.string() + " 2 success"}))
        << run.json;
    EXPECT_EQ(readFile(file("a2.bin")).substr(0, image.size()), image);
    EXPECT_EQ(readFile(file("b2.bin")).substr(0, image.size()), image);
}

} // namespace
