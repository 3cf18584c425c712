// qz450sim driven through its pty as a serial client would: line speeds set with termios,
// wake-up passes with the updater's timing, a hand-written XMODEM sender, and the summary,
// output file and wire trace the simulator leaves.

#include "updater/tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qz::test::jsonField;
using qz::test::SimProcess;

constexpr char SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18;
const std::string kWake = "7*450263\r";

// Whether the summary line holds the fields of `expected` ("name=value ...", a value without
// blanks) with those values; a failure names every field that differs.
::testing::AssertionResult hasFields(const std::string& summary, const std::string& expected) {
    std::istringstream fields(expected);
    std::string differences;
    for (std::string field; fields >> field;) {
        const std::size_t equals = field.find('=');
        const std::string name = field.substr(0, equals), value = field.substr(equals + 1);
        const std::optional<std::string> actual = jsonField(summary, name);
        if (actual != value) differences += "\n  " + name + ": " + actual.value_or("(absent)") + ", expected " + value;
    }
    if (differences.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << summary << differences;
}

speed_t speedCode(unsigned baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B57600;
    }
}

// The client's end of the line: the slave pty opened by path, raw, at a given speed.
class Port {
public:
    Port(const std::string& path, unsigned baud) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ >= 0) setSpeed(baud);
    }
    ~Port() {
        if (fd_ >= 0) ::close(fd_);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void setSpeed(unsigned baud) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, speedCode(baud));
        cfsetospeed(&t, speedCode(baud));
        tcsetattr(fd_, TCSANOW, &t);
    }

    void send(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `done` says so or `limit` passes; returns what arrived.
    std::string readUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds limit) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done(got)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[2048];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string readBytes(std::size_t count, std::chrono::milliseconds limit = 5s) {
        return readUntil([count](const std::string& got) { return got.size() >= count; }, limit);
    }
    // Sends `bytes` and reads the answer of `count` bytes.
    std::string exchange(const std::string& bytes, std::size_t count, std::chrono::milliseconds limit = 5s) {
        send(bytes);
        return readBytes(count, limit);
    }
    // Everything that arrives within `period` (nothing expected, usually).
    std::string readFor(std::chrono::milliseconds period) {
        return readUntil([](const std::string&) { return false; }, period);
    }

private:
    int fd_;
};

std::uint16_t crc16(const std::string& data) {
    std::uint16_t crc = 0;
    for (unsigned char byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// One XMODEM block: SOH for 128 bytes of data, STX for 1024; CRC-16 or arithmetic checksum.
std::string frame(unsigned number, std::string data, bool crc) {
    const std::size_t size = data.size() <= 128 ? 128 : 1024;
    data.resize(size, '\x1a');
    std::string f;
    f += size == 128 ? SOH : STX;
    f += static_cast<char>(number & 0xff);
    f += static_cast<char>(0xff - (number & 0xff));
    f += data;
    if (crc) {
        const std::uint16_t c = crc16(data);
        f += static_cast<char>(c >> 8);
        f += static_cast<char>(c & 0xff);
    } else {
        unsigned sum = 0;
        for (unsigned char b : data) sum += b;
        f += static_cast<char>(sum & 0xff);
    }
    return f;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string image(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>(random() & 0xff);
    return data;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The updater's wake-up passes, with its pauses: none between a command and the next reopen.
// Returns the port reopened at 57600 baud for the listen.
std::unique_ptr<Port> wakeAsUpdater(const std::string& pty) {
    { Port open19200(pty, 19200); }
    {
        Port pass(pty, 9600);
        std::this_thread::sleep_for(100ms);
        pass.send("\r");
        std::this_thread::sleep_for(100ms);
        pass.send(kWake);
    }
    {
        Port pass(pty, 57600);
        pass.send("\r");
        std::this_thread::sleep_for(100ms);
        pass.send(kWake);
    }
    {
        Port pass(pty, 19200);
        pass.send("\r");
        std::this_thread::sleep_for(100ms);
        pass.send(kWake);
        std::this_thread::sleep_for(100ms);
    }
    return std::make_unique<Port>(pty, 57600);
}

bool onlyPercent(const std::string& got) { return got.find_first_not_of('%') == std::string::npos; }

// Waits for "%" as the first byte received, answers "{" and returns the first request (with
// any "%" that was already on its way left out).
std::string answerStart(Port& port) {
    const std::string start = port.readBytes(1);
    EXPECT_EQ(start.substr(0, 1), "%");
    port.send("{");
    const std::string answer = port.readUntil([](const std::string& got) { return !onlyPercent(got); }, 5s);
    return answer.substr(answer.find_first_not_of('%') == std::string::npos ? answer.size()
                                                                            : answer.find_first_not_of('%'));
}

class Qz450Sim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(SimProcess::executable())) << SimProcess::executable();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("qz450sim_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(Qz450Sim, UpdaterUploadInCrcModeArrivesByteExactWithTheWakeSpeedsAndAComparableTrace) {
    SimProcess sim({"--trace", path("trace.txt"), "--out", path("image.bin"), "--timeout", "20"});
    ASSERT_TRUE(sim.started());
    auto port = wakeAsUpdater(sim.pty());
    ASSERT_TRUE(port->isOpen());
    ASSERT_EQ(answerStart(*port), "C");

    const std::string firmware = image(300, 1);
    std::string expected = "RX 9600 0d" + hex(kWake) + "\nRX 57600 0d" + hex(kWake) + "\nRX 19200 0d" + hex(kWake) +
                           "\nRX 57600 7b\nTX 57600 43\n";
    for (unsigned block = 1; block <= 3; ++block) {
        const std::string f = frame(block, firmware.substr((block - 1) * 128, 128), true);
        ASSERT_EQ(port->exchange(f, 1), std::string(1, ACK)) << "block " << block;
        expected += "RX 57600 " + hex(f) + "\nTX 57600 06\n";
    }
    ASSERT_EQ(port->exchange(std::string(1, EOT), 1), std::string(1, ACK));
    expected += "RX 57600 04\nTX 57600 06\n";

    const auto summary = sim.nextLine();
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(*summary, "upload=1 outcome=complete wake_speeds=9600,57600,19200 listen_speed=57600 "
                                    "mode=crc blocks=3 bytes=384 errors=0"));
    EXPECT_NE(jsonField(*summary, "percent_sent"), "0");
    EXPECT_NE(jsonField(*summary, "start_to_answer_ms").value_or("null"), "null");
    EXPECT_EQ(sim.wait(), 0);

    // The image keeps the padding of its last block.
    EXPECT_EQ(readFile(path("image.bin")), firmware + std::string(84, '\x1a'));
    // Normalised: no times, no "%", same-speed lines merged; exactly the wire of the upload.
    EXPECT_EQ(qz::test::normalisedTrace(path("trace.txt")), expected);
    // Raw: times, directions, speeds, the "%" sent at the listen speed, events.
    const std::string raw = readFile(path("trace.txt"));
    EXPECT_NE(raw.find(" TX 57600 25\n"), std::string::npos);
    EXPECT_NE(raw.find(" EV upload 1\n"), std::string::npos);
    EXPECT_NE(raw.find(" EV wake 19200\n"), std::string::npos);
}

TEST_F(Qz450Sim, StartCharacterOnlyWhileTheLineIsAt57600) {
    SimProcess sim({"--timeout", "20", "--answer-timeout", "20"});
    ASSERT_TRUE(sim.started());
    Port port(sim.pty(), 9600);
    port.send(kWake);
    EXPECT_EQ(port.readFor(300ms), "") << "nothing at 9600 baud";
    port.setSpeed(57600);
    const std::string heard = port.readBytes(3);
    EXPECT_GE(heard.size(), 3u);
    EXPECT_TRUE(onlyPercent(heard)) << heard;
    port.setSpeed(19200);
    port.readFor(50ms); // a "%" already on its way
    EXPECT_EQ(port.readFor(300ms), "") << "nothing at 19200 baud";
    sim.stop();
    const auto summary = sim.nextLine(1s);
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(*summary, "outcome=interrupted wake_speeds=9600"));
}

TEST_F(Qz450Sim, FirstStartCharacterWaitsThePercentAfterDelay) {
    SimProcess sim({"--timeout", "20", "--percent-after-ms", "600", "--percent-ms", "1000"});
    ASSERT_TRUE(sim.started());
    Port port(sim.pty(), 57600);
    port.send(kWake);
    EXPECT_EQ(port.readFor(300ms), "") << "no \"%\" before the delay has passed";
    EXPECT_EQ(port.readBytes(1), "%");
    port.send("{");
    const std::string request = port.readBytes(1);
    EXPECT_EQ(request, "C");
    sim.stop();
    const auto summary = sim.nextLine(1s);
    ASSERT_TRUE(summary);
    EXPECT_EQ(jsonField(*summary, "percent_sent"), "1");
}

TEST_F(Qz450Sim, OnlyTheWholeWakeUpCommandAtAnUpdaterSpeedWakesIt) {
    SimProcess sim({"--timeout", "1"});
    ASSERT_TRUE(sim.started());
    {
        Port port(sim.pty(), 38400);
        port.send(kWake); // a speed the updater never uses
        std::this_thread::sleep_for(50ms);
        port.setSpeed(57600);
        port.send("\r");
        port.send("7*45026\r");
        port.send("x7*450263");
        EXPECT_EQ(port.readFor(300ms), "");
    }
    EXPECT_EQ(sim.wait(5s), 3) << "ended by --timeout";
    const auto summary = sim.nextLine(1s);
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(*summary, "outcome=no-wake wake_speeds="));
}

TEST_F(Qz450Sim, SilentAndWrongSpeedBootloadersAreNeverHeardAtTheListenSpeed) {
    {
        SimProcess sim({"--silent", "--answer-timeout", "0.5"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        port.send(kWake);
        EXPECT_EQ(port.readFor(300ms), "");
        const auto summary = sim.nextLine(5s);
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=no-answer wake_speeds=57600 percent_sent=0"));
    }
    {
        SimProcess sim({"--wrong-speed", "--answer-timeout", "1"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 19200);
        port.send(kWake);
        const std::string heard = port.readBytes(2);
        EXPECT_GE(heard.size(), 2u);
        EXPECT_TRUE(onlyPercent(heard)) << "heard off the listen speed: " << heard;
        std::this_thread::sleep_for(100ms); // more "%" wait unread
        port.setSpeed(57600);
        std::this_thread::sleep_for(50ms); // the simulator notices the new speed
        EXPECT_EQ(port.readFor(300ms), "") << "what was sent at 19200 and not read is gone";
        port.send("{");
        EXPECT_EQ(port.readFor(300ms), "") << "\"{\" is not taken at 57600 either";
        const auto summary = sim.nextLine(5s);
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=no-answer listen_speed=null"));
    }
}

TEST_F(Qz450Sim, ChecksumModeWithPacingAndSlowFlashTakes1KBlocksRepeatsAndBadBlocks) {
    SimProcess sim({"--awake", "--checksum", "--pace", "--flash-delay-ms", "50", "--out", path("image.bin")});
    ASSERT_TRUE(sim.started());
    Port port(sim.pty(), 57600);
    ASSERT_EQ(answerStart(port), std::string(1, NAK));

    const std::string a = image(128, 2), b = image(128, 3), c = image(1024, 4);
    EXPECT_EQ(port.exchange(frame(1, a, false), 1), std::string(1, ACK));
    std::string bad = frame(2, b, false);
    bad.back() = static_cast<char>(bad.back() + 1);
    EXPECT_EQ(port.exchange(bad, 1), std::string(1, NAK)) << "bad checksum";
    EXPECT_EQ(port.exchange(frame(2, b, false), 1), std::string(1, ACK));
    EXPECT_EQ(port.exchange(frame(2, b, false), 1), std::string(1, ACK))
        << "a repeat of the last block is acknowledged";
    std::string mismatch = frame(3, c, false);
    mismatch[2] = 0;
    EXPECT_EQ(port.exchange(mismatch, 1), std::string(1, NAK)) << "number and complement disagree";
    EXPECT_EQ(port.exchange(frame(3, c, false), 1), std::string(1, ACK));
    EXPECT_EQ(port.exchange(std::string(1, EOT), 1), std::string(1, ACK));

    const auto summary = sim.nextLine();
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(
        *summary, "outcome=complete mode=checksum wake_speeds= blocks=3 blocks_1k=1 duplicates=1 errors=2 bytes=1280"));
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_EQ(readFile(path("image.bin")), a + b + c);
}

TEST_F(Qz450Sim, CancelsAfterNBlocksOnAnOutOfSequenceBlockAndWhenTheSenderCancels) {
    {
        SimProcess sim({"--awake", "--cancel-after", "1"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        ASSERT_EQ(answerStart(port), "C");
        EXPECT_EQ(port.exchange(frame(1, image(128, 5), true), 1), std::string(1, ACK));
        EXPECT_EQ(port.exchange(frame(2, image(128, 6), true), 2), std::string(2, CAN));
        const auto summary = sim.nextLine();
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=cancelled reason=cancel-after blocks=1"));
    }
    // Two uploads in a row: the sender cancels the first, the second skips a block.
    SimProcess sim({"--awake", "--count", "2", "--trace", path("trace.txt")});
    ASSERT_TRUE(sim.started());
    Port port(sim.pty(), 57600);
    ASSERT_EQ(answerStart(port), "C");
    port.send(std::string(2, CAN));
    auto summary = sim.nextLine();
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(*summary, "upload=1 outcome=cancelled reason=sender"));

    ASSERT_EQ(answerStart(port), "C");
    EXPECT_EQ(port.exchange(frame(1, image(128, 7), true), 1), std::string(1, ACK));
    EXPECT_EQ(port.exchange(frame(3, image(128, 8), true), 2), std::string(2, CAN));
    summary = sim.nextLine();
    ASSERT_TRUE(summary);
    EXPECT_TRUE(hasFields(*summary, "upload=2 outcome=cancelled reason=sequence"));
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_EQ(qz::test::normalisedTrace(path("trace.txt"), 1), "RX 57600 7b\nTX 57600 43\nRX 57600 1818\n");
    EXPECT_EQ(qz::test::normalisedTrace(path("trace.txt"), 2).substr(0, 24), "RX 57600 7b\nTX 57600 43\n");
}

TEST_F(Qz450Sim, AckFaultsAndBitErrors) {
    const std::string block = frame(1, image(128, 9), true);
    {
        SimProcess sim({"--awake", "--drop-ack", "1"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        ASSERT_EQ(answerStart(port), "C");
        port.send(block);
        EXPECT_EQ(port.readFor(300ms), "") << "ACK left out";
        port.send(block);
        EXPECT_EQ(port.readFor(300ms), "") << "ACK of the repeat left out";
        port.send(std::string(2, CAN));
        const auto summary = sim.nextLine();
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=cancelled blocks=1 duplicates=1"));
    }
    {
        SimProcess sim({"--awake", "--dup-ack", "1"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        ASSERT_EQ(answerStart(port), "C");
        EXPECT_EQ(port.exchange(block, 2), std::string(2, ACK));
    }
    {
        // Every exchange gets one flipped bit: every attempt is refused.
        SimProcess sim({"--awake", "--checksum", "--bit-errors", "1", "--seed", "3", "--transfer-timeout", "0.5"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        ASSERT_EQ(answerStart(port), std::string(1, NAK));
        const std::string checksumBlock = frame(1, image(128, 9), false);
        for (int attempt = 0; attempt < 3; ++attempt) {
            EXPECT_EQ(port.exchange(checksumBlock, 1, 3s), std::string(1, NAK)) << "attempt " << attempt;
        }
        const auto summary = sim.nextLine();
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=timeout blocks=0 errors=3 bit_flips=3"));
    }
}

TEST_F(Qz450Sim, StopsAnsweringMidTransferAndNoticesASpeedChange) {
    {
        SimProcess sim({"--awake", "--stop-after", "1", "--transfer-timeout", "0.5"});
        ASSERT_TRUE(sim.started());
        Port port(sim.pty(), 57600);
        ASSERT_EQ(answerStart(port), "C");
        EXPECT_EQ(port.exchange(frame(1, image(128, 10), true), 1), std::string(1, ACK));
        port.send(frame(2, image(128, 11), true));
        EXPECT_EQ(port.readFor(300ms), "");
        const auto summary = sim.nextLine();
        ASSERT_TRUE(summary);
        EXPECT_TRUE(hasFields(*summary, "outcome=stopped reason=idle blocks=1"));
    }
    SimProcess sim({"--awake"});
    ASSERT_TRUE(sim.started());
    Port port(sim.pty(), 57600);
    ASSERT_EQ(answerStart(port), "C");
    EXPECT_EQ(port.exchange(frame(1, image(128, 12), true), 1), std::string(1, ACK));
    port.setSpeed(9600);
    const auto summary = sim.nextLine();
    ASSERT_TRUE(summary);
    EXPECT_EQ(jsonField(*summary, "outcome"), "abandoned");
}

TEST_F(Qz450Sim, LinkSignalAndCommandLine) {
    const std::string link = path("com1");
    {
        SimProcess sim({"--link", link});
        ASSERT_TRUE(sim.started());
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link).string(), sim.pty());
        EXPECT_EQ(sim.stop(), 4);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link removed at exit";
        EXPECT_FALSE(sim.nextLine(200ms)) << "no summary for an upload that saw nothing";
    }
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--bit-errors", "1.5"}}) {
        SimProcess sim(bad);
        EXPECT_FALSE(sim.started());
        EXPECT_EQ(sim.wait(), 2) << bad.front();
    }
}

} // namespace
