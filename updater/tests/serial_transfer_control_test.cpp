// The serial transfer control's members over a fake port: design-time state, what fails while
// the port is closed, settings that are refused, Input and Output, and SendFile with its
// statistics, hooks and the ways a transfer is stopped.

#include "updater/core/serial_transfer_control.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qz {
namespace {

namespace fs = std::filesystem;
constexpr std::uint8_t kAck = 0x06, kCan = 0x18, kEot = 0x04;

// A port that records what it is asked and hands out scripted input. A read with nothing to
// give waits out its timeout, so time-outs of the sender take real (short) time.
class FakeSerialPort final : public SerialPort {
public:
    PortStatus open(const std::string& device, const LineSettings& settings, const PortOptions& given) override {
        ++opens;
        if (!openFailure.ok()) return openFailure;
        device_ = device;
        line = settings;
        options = given;
        isOpen_ = true;
        return {};
    }
    void close() noexcept override {
        if (isOpen_) ++closes;
        isOpen_ = false;
    }
    bool isOpen() const override { return isOpen_; }
    const std::string& device() const override { return device_; }
    PortStatus reconfigure(const LineSettings& settings) override {
        reconfigured.push_back(settings);
        if (!reconfigureFailure.ok()) return reconfigureFailure;
        line = settings;
        return {};
    }
    PortStatus setDtr(bool raised) override {
        options.dtr = raised;
        return {};
    }
    PortStatus setRts(bool raised) override {
        options.rts = raised;
        return {};
    }
    PortStatus setHandshaking(Handshaking handshaking) override {
        options.handshaking = handshaking;
        return {};
    }
    PortStatus write(std::span<const std::uint8_t> bytes) override {
        if (!isOpen_) return PortStatus::failure(PortErrorKind::notOpen, "closed");
        written.emplace_back(bytes.begin(), bytes.end());
        if (onWrite) onWrite(written.back());
        return {};
    }
    ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) override {
        readTimeouts.push_back(timeoutMs);
        if (!isOpen_) return {ReadStatus::error, 0};
        if (incoming.empty()) {
            if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return {ReadStatus::timedOut, 0};
        }
        std::size_t count = 0;
        while (count < buffer.size() && !incoming.empty()) {
            buffer[count++] = incoming.front();
            incoming.pop_front();
        }
        return {ReadStatus::data, count};
    }
    const PortStatus& lastReadError() const override { return readError; }
    PortStatus discardInput() override {
        incoming.clear();
        return {};
    }

    void arrive(std::string_view text) { incoming.insert(incoming.end(), text.begin(), text.end()); }

    int opens = 0, closes = 0;
    PortStatus openFailure, reconfigureFailure, readError;
    LineSettings line;
    PortOptions options;
    std::vector<LineSettings> reconfigured;
    std::vector<std::vector<std::uint8_t>> written;
    std::vector<int> readTimeouts;
    std::deque<std::uint8_t> incoming;
    std::function<void(const std::vector<std::uint8_t>&)> onWrite;

private:
    bool isOpen_ = false;
    std::string device_;
};

std::string testDevice(int port) { return "/dev/fake" + std::to_string(port); }

LineSettings line8N1(std::uint32_t baud) { return {baud, Parity::none, 8, StopBits::one}; }

class ControlTest : public ::testing::Test {
protected:
    FakeSerialPort port;
    SerialTransferControl control{port, testDevice};
};

TEST_F(ControlTest, DesignTimeState) {
    EXPECT_EQ(control.commPort(), 1);
    EXPECT_EQ(control.settings(), line8N1(9600));
    EXPECT_EQ(control.portOpen(), false);
    EXPECT_EQ(control.handshaking(), 0);
    EXPECT_EQ(control.inputBufferSize(), 1024);
    EXPECT_EQ(control.outputBufferSize(), 512);
    EXPECT_EQ(control.inputLength(), 0);
    EXPECT_EQ(control.inputMode(), 0);
    EXPECT_FALSE(control.nullDiscard());
    EXPECT_FALSE(control.enableCancel());
    EXPECT_FLOAT_EQ(control.packetTimeout(), 1.0f);
    EXPECT_EQ(control.padCharacter(), 26);
    EXPECT_EQ(control.maxErrors(), 10);
    EXPECT_EQ(control.transferStatus(), TransferStatus::notStarted);
    EXPECT_EQ(control.lastError(), "");
    EXPECT_EQ(control.portStateText(), "COM1 closed");
}

TEST_F(ControlTest, OpensTheNamedDeviceWithItsSettingsAndOptions) {
    ASSERT_TRUE(control.setCommPort(3));
    ASSERT_TRUE(control.setSettings(line8N1(19200)));
    ASSERT_TRUE(control.setHandshaking(2));
    ASSERT_TRUE(control.setInputBufferSize(1024));
    ASSERT_TRUE(control.setOutputBufferSize(1024));
    ASSERT_TRUE(control.setPortOpen(true));
    EXPECT_EQ(port.device(), "/dev/fake3");
    EXPECT_EQ(port.line, line8N1(19200));
    EXPECT_EQ(port.options.handshaking, Handshaking::rtsCts);
    EXPECT_TRUE(port.options.dtr);
    EXPECT_FALSE(port.options.rts);
    EXPECT_EQ(port.options.outputBufferSize, 1024u);
    EXPECT_EQ(control.portStateText(), "COM3 open at 19200,n,8,1");

    // Open when open keeps it open, without a second open.
    EXPECT_TRUE(control.setPortOpen(true));
    EXPECT_EQ(port.opens, 1);
    EXPECT_TRUE(control.setPortOpen(false));
    EXPECT_TRUE(control.setPortOpen(false));
    EXPECT_EQ(port.closes, 1);
    EXPECT_EQ(control.portOpen(), false);
}

TEST_F(ControlTest, ExplicitDevicePathWinsOverThePortNumber) {
    control.setDevicePath("/dev/ttyUSB0");
    ASSERT_TRUE(control.setPortOpen(true));
    EXPECT_EQ(port.device(), "/dev/ttyUSB0");
    EXPECT_EQ(control.portStateText(), "/dev/ttyUSB0 open at 9600,n,8,1");
    control.setPortOpen(false);
    control.setDevicePath("");
    EXPECT_EQ(control.deviceName(), "/dev/fake1");
    EXPECT_EQ(win32ComDeviceName(12), "\\\\.\\COM12");
}

TEST_F(ControlTest, FailedOpenReportsThePortsMessage) {
    port.openFailure = PortStatus::failure(PortErrorKind::inUse, "serial port /dev/fake1: open: in use");
    EXPECT_FALSE(control.setPortOpen(true));
    EXPECT_EQ(control.portOpen(), false);
    EXPECT_EQ(control.lastError(), "serial port /dev/fake1: open: in use");
}

TEST_F(ControlTest, MembersThatNeedTheLineFailWhileClosed) {
    EXPECT_FALSE(control.output("x"));
    EXPECT_NE(control.lastError().find("COM1"), std::string::npos);
    EXPECT_FALSE(control.input().has_value());
    EXPECT_FALSE(control.sendFile());
    EXPECT_EQ(control.transferStatus(), TransferStatus::portNotOpen);
    EXPECT_TRUE(port.written.empty());
}

TEST_F(ControlTest, RefusedValuesLeaveEverythingAsItWas) {
    // Settings no UART produces are refused in the words of the settings text's parse.
    EXPECT_FALSE(control.setSettings(line8N1(12345)));
    EXPECT_EQ(control.lastError(), "invalid line settings \"12345,n,8,1\": unsupported baud rate");
    EXPECT_FALSE(control.setSettings({9600, Parity::none, 9, StopBits::one}));
    EXPECT_FALSE(control.setSettings({9600, Parity::none, 8, StopBits::onePointFive}));
    EXPECT_EQ(control.settings(), line8N1(9600));
    EXPECT_FALSE(control.setCommPort(0));
    EXPECT_FALSE(control.setHandshaking(4));
    EXPECT_FALSE(control.setInputMode(2));
    EXPECT_FALSE(control.setInputLength(-1));
    EXPECT_FALSE(control.setPadCharacter(256));
    EXPECT_FALSE(control.setMaxErrors(0));
    EXPECT_FALSE(control.setPacketTimeout(0.0f));
    EXPECT_EQ(control.commPort(), 1);
    EXPECT_EQ(control.handshaking(), 0);

    ASSERT_TRUE(control.setPortOpen(true));
    // The open line: refused settings never reach the port; those the port refuses are not kept.
    EXPECT_FALSE(control.setSettings({57600, Parity::none, 5, StopBits::two}));
    EXPECT_TRUE(port.reconfigured.empty());
    port.reconfigureFailure = PortStatus::failure(PortErrorKind::badSettings, "refused");
    EXPECT_FALSE(control.setSettings(line8N1(115200)));
    EXPECT_EQ(control.settings(), line8N1(9600));
    EXPECT_EQ(control.portStateText(), "COM1 open at 9600,n,8,1");
    port.reconfigureFailure = PortStatus{};
    EXPECT_TRUE(control.setSettings(line8N1(57600)));
    EXPECT_EQ(port.line.baud, 57600u);
    EXPECT_EQ(control.settings(), line8N1(57600));
    // Port number and buffer sizes wait for the port to be closed.
    EXPECT_FALSE(control.setCommPort(2));
    EXPECT_FALSE(control.setInputBufferSize(2048));
    EXPECT_EQ(control.commPort(), 1);
}

TEST_F(ControlTest, OutputSendsAtOnceAndInputHandsOutWhatArrivedWithoutWaiting) {
    ASSERT_TRUE(control.setPortOpen(true));
    ASSERT_TRUE(control.output("7*450263\r"));
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(std::string(port.written[0].begin(), port.written[0].end()), "7*450263\r");

    EXPECT_EQ(control.input(), "");
    port.arrive("%abc");
    EXPECT_EQ(control.input(), "%abc");
    EXPECT_EQ(control.input(), "");
    for (const int timeout : port.readTimeouts) EXPECT_EQ(timeout, 0);

    ASSERT_TRUE(control.setInputLength(2));
    port.arrive("12345");
    EXPECT_EQ(control.input(), "12");
    EXPECT_EQ(control.input(), "34");
    ASSERT_TRUE(control.setInputLength(0));
    ASSERT_TRUE(control.setNullDiscard(true));
    port.arrive(std::string("6\0\0"
                            "7",
                            4));
    EXPECT_EQ(control.input(), "567");
}

TEST_F(ControlTest, UnchangedSettingsOnTheOpenPortLeaveTheLineAlone) {
    // The upload's answer: "{" goes out at 57600, then the same settings are given again.
    ASSERT_TRUE(control.setSettings(line8N1(57600)));
    ASSERT_TRUE(control.setPortOpen(true));
    ASSERT_TRUE(control.output("{"));
    EXPECT_TRUE(control.setSettings(line8N1(57600)));
    EXPECT_TRUE(control.setPortOpen(true));
    EXPECT_TRUE(port.reconfigured.empty());

    EXPECT_TRUE(control.setSettings(line8N1(19200)));
    ASSERT_EQ(port.reconfigured.size(), 1u);
    EXPECT_EQ(port.line.baud, 19200u);
}

// The fake port as a willing receiver: asks with 'C', acknowledges everything.
void acknowledgeEverything(FakeSerialPort& port) {
    port.onWrite = [&port](const std::vector<std::uint8_t>& bytes) {
        if (bytes.size() == 133 || bytes == std::vector<std::uint8_t>{kEot}) port.incoming.push_back(kAck);
    };
}

class SendFileTest : public ControlTest {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() /
                    ("qz_control_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
        ASSERT_TRUE(control.setPacketTimeout(0.1f));
        ASSERT_TRUE(control.setMaxErrors(3));
        ASSERT_TRUE(control.setStartTimeout(1.0f));
    }
    void TearDown() override { fs::remove_all(directory); }

    std::string writeImage(std::size_t size) {
        const fs::path file = directory / "image.bin";
        std::ofstream out(file, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7));
        return file.string();
    }

    fs::path directory;
};

TEST_F(SendFileTest, SendsTheFileAndKeepsItsStatistics) {
    const std::string file = writeImage(300);
    ASSERT_TRUE(control.setSendFileName(file));
    ASSERT_TRUE(control.setPortOpen(true));
    acknowledgeEverything(port);
    port.arrive("C");
    std::vector<TransferReport> reports;
    control.setProgressHook([&](const TransferReport& report) { reports.push_back(report); });
    int idleCalls = 0;
    control.setIdleHook([&] {
        ++idleCalls;
        return IdleAction::proceed;
    });

    EXPECT_TRUE(control.sendFile()) << control.lastError();
    EXPECT_EQ(control.transferStatus(), TransferStatus::complete);
    const TransferReport& last = control.lastTransfer();
    EXPECT_FALSE(last.running);
    EXPECT_EQ(last.fileName, file);
    EXPECT_EQ(last.progress.blocksAcked, 3u);
    EXPECT_EQ(last.progress.bytesAcked, 300u);
    EXPECT_EQ(last.progress.mode, XmodemMode::crc16);
    ASSERT_GE(reports.size(), 4u);
    EXPECT_TRUE(reports.front().running);
    EXPECT_FALSE(reports.back().running);
    EXPECT_GT(idleCalls, 0);
    // Three blocks, the last padded with 26, then the EOT.
    ASSERT_EQ(port.written.size(), 4u);
    EXPECT_EQ(port.written[2][3 + 300 - 256], 26);
    EXPECT_EQ(port.written[2][130], 26);

    // Opening again starts from "not started".
    control.setPortOpen(false);
    control.setPortOpen(true);
    EXPECT_EQ(control.transferStatus(), TransferStatus::notStarted);
}

TEST_F(SendFileTest, UnreadableFileIsRefusedBeforeAnythingIsSent) {
    ASSERT_TRUE(control.setPortOpen(true));
    for (const std::string& name : {std::string(), (directory / "missing.bin").string(), directory.string()}) {
        control.setSendFileName(name);
        EXPECT_FALSE(control.sendFile());
        EXPECT_EQ(control.transferStatus(), TransferStatus::fileUnreadable) << name;
    }
    EXPECT_TRUE(port.written.empty());
}

TEST_F(SendFileTest, ReceiversCancelEndsTheTransferOnlyWithEnableCancel) {
    control.setSendFileName(writeImage(1000));
    ASSERT_TRUE(control.setPortOpen(true));
    port.onWrite = [this](const std::vector<std::uint8_t>&) { port.arrive("\x18\x18"); };
    port.arrive("C");
    ASSERT_TRUE(control.setEnableCancel(true));
    EXPECT_FALSE(control.sendFile());
    EXPECT_EQ(control.transferStatus(), TransferStatus::cancelled);

    port.arrive("C");
    ASSERT_TRUE(control.setEnableCancel(false));
    EXPECT_FALSE(control.sendFile());
    EXPECT_EQ(control.transferStatus(), TransferStatus::timedOut);
}

TEST_F(SendFileTest, ClosingThePortFromTheIdleHookAbortsAndTellsTheReceiver) {
    control.setSendFileName(writeImage(1000));
    ASSERT_TRUE(control.setPortOpen(true));
    ASSERT_TRUE(control.setEnableCancel(true));
    port.arrive("C");
    int idleCalls = 0;
    control.setIdleHook([&] {
        if (++idleCalls == 3) control.setPortOpen(false); // the window closing
        return IdleAction::proceed;
    });
    EXPECT_FALSE(control.sendFile());
    EXPECT_EQ(control.transferStatus(), TransferStatus::aborted);
    EXPECT_EQ(control.portOpen(), false);
    ASSERT_FALSE(port.written.empty());
    EXPECT_EQ(port.written.back(), (std::vector<std::uint8_t>{kCan, kCan}));
    EXPECT_EQ(std::count(port.written.begin(), port.written.end(), std::vector<std::uint8_t>{kCan, kCan}), 1);
}

TEST_F(SendFileTest, RequestedAbortStopsAtTheNextWait) {
    control.setSendFileName(writeImage(1000));
    ASSERT_TRUE(control.setPortOpen(true));
    port.arrive("C");
    control.setIdleHook([&] {
        control.requestAbort();
        return IdleAction::proceed;
    });
    EXPECT_FALSE(control.sendFile());
    EXPECT_EQ(control.transferStatus(), TransferStatus::aborted);
    // Without EnableCancel the receiver is not sent CAN.
    for (const auto& bytes : port.written) EXPECT_NE(bytes, (std::vector<std::uint8_t>{kCan, kCan}));
    EXPECT_EQ(control.portOpen(), true);
}

} // namespace
} // namespace qz
