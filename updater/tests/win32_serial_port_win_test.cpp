// The Win32 transport on COM ports that wine_serial_test.sh maps to ptys under Wine (or on
// any Windows machine with the same peers behind two ports):
//   QZ_WINTEST_ECHO_COM  number of a port whose far end echoes every byte
//   QZ_WINTEST_RX_COM    number of a port whose far end starts lrzsz rx on 'c' (CRC) or 'n'
//   QZ_WINTEST_RX_DIR    folder where that rx writes received.bin; "ready" there while it waits
// Without them the line tests are skipped; the opening errors are tested anyway.

#include "updater/core/serial_transfer_control.h"
#include "updater/tests/support/rx_image.h"
#include "updater/win32/win32_serial_port.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qz {
namespace {

namespace fs = std::filesystem;

const LineSettings k57600{57600, Parity::none, 8, StopBits::one};

int portFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Reads until `count` bytes came or a read waited `timeoutMs` in vain.
std::string readSome(SerialPort& port, std::size_t count, int timeoutMs) {
    std::string text;
    std::uint8_t buffer[256];
    while (text.size() < count) {
        const ReadResult got = port.read(buffer, timeoutMs);
        if (got.status != ReadStatus::data) break;
        text.append(reinterpret_cast<const char*>(buffer), got.count);
    }
    return text;
}

TEST(Win32SerialPort, OpenFailuresSayWhatAndNameThePort) {
    Win32SerialPort port;
    PortStatus status = port.open(win32ComDeviceName(199), k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::noSuchDevice) << status.message();
    EXPECT_NE(status.message().find("COM199"), std::string::npos) << status.message();

    status = port.open("\\\\.\\NUL", k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::notSerialDevice) << status.message();
    EXPECT_FALSE(port.isOpen());

    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path file = fs::path(temp) / "qz_not_a_port.txt";
    std::ofstream(file) << "x";
    status = port.open(file.string(), k57600, {});
    EXPECT_EQ(status.kind(), PortErrorKind::notSerialDevice) << status.message();
    fs::remove(file);
}

TEST(Win32SerialPort, ListerReadsTheDeviceMap) {
    const std::vector<std::string> ports = listWin32SerialPorts();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].rfind("COM", 0), 0u) << ports[i];
        if (i > 0) {
            EXPECT_LT(std::atoi(ports[i - 1].c_str() + 3), std::atoi(ports[i].c_str() + 3));
        }
    }
}

class EchoLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        number = portFromEnvironment("QZ_WINTEST_ECHO_COM");
        if (!number) GTEST_SKIP() << "QZ_WINTEST_ECHO_COM not set (run wine_serial_test.sh)";
    }
    int number = 0;
};

TEST_F(EchoLineTest, LineSettingsTakeEffect) {
    Win32SerialPort port;
    PortOptions options;
    options.handshaking = Handshaking::rtsCts;
    ASSERT_TRUE(port.open(win32ComDeviceName(number), {19200, Parity::none, 8, StopBits::two}, options).ok());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.nativeHandle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fOutxCtsFlow);

    ASSERT_TRUE(port.reconfigure(k57600).ok());
    ASSERT_TRUE(port.setHandshaking(Handshaking::none).ok());
    ASSERT_TRUE(GetCommState(port.nativeHandle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    port.close();
    EXPECT_FALSE(port.isOpen());
}

TEST_F(EchoLineTest, WritesReadsWithTimeoutAndDiscards) {
    Win32SerialPort port;
    ASSERT_TRUE(port.open(win32ComDeviceName(number), k57600, {}).ok());
    std::uint8_t buffer[64];
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::timedOut);
    EXPECT_EQ(port.read(buffer, 30).status, ReadStatus::timedOut);

    ASSERT_TRUE(port.write(bytesOf("7*450263\r")).ok());
    EXPECT_EQ(readSome(port, 9, 2000), "7*450263\r");

    ASSERT_TRUE(port.write(bytesOf("stale")).ok());
    Sleep(200); // the echo is back by now
    ASSERT_TRUE(port.discardInput().ok());
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::timedOut);

    // A long write and a close right behind it.
    const std::string lots(4000, 'x');
    ASSERT_TRUE(port.write(bytesOf(lots)).ok());
    port.close();
    EXPECT_EQ(port.read(buffer, 0).status, ReadStatus::error);
    EXPECT_EQ(port.lastReadError().kind(), PortErrorKind::notOpen);

    // The control on the same line: Output goes out at once, Input hands back what came.
    Win32SerialPort again;
    SerialTransferControl control(again, win32ComDeviceName);
    ASSERT_TRUE(control.setCommPort(static_cast<std::int16_t>(number)));
    ASSERT_TRUE(control.setSettings(k57600));
    ASSERT_TRUE(control.setPortOpen(true)) << control.lastError();
    EXPECT_EQ(control.portStateText(), "COM" + std::to_string(number) + " open at 57600,n,8,1");
    ASSERT_TRUE(control.output("%{"));
    std::string echoed;
    for (int i = 0; i < 100 && echoed.size() < 2; ++i) {
        echoed += control.input().value_or("");
        Sleep(10);
    }
    EXPECT_EQ(echoed, "%{");
}

using test::RxCase;

class RxLineTest : public ::testing::TestWithParam<RxCase> {
protected:
    void SetUp() override {
        number = portFromEnvironment("QZ_WINTEST_RX_COM");
        const char* dir = std::getenv("QZ_WINTEST_RX_DIR");
        if (!number || !dir) GTEST_SKIP() << "QZ_WINTEST_RX_COM / QZ_WINTEST_RX_DIR not set (run wine_serial_test.sh)";
        rxDirectory = dir;
    }
    int number = 0;
    fs::path rxDirectory;
};

TEST_P(RxLineTest, ImageArrivesByteExact) {
    const RxCase param = GetParam();
    const std::vector<std::uint8_t> image = test::randomImage(param.size, static_cast<unsigned>(param.size) + 11);
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path file = fs::path(temp) / ("qz_image_" + test::rxCaseName(param) + ".bin");
    test::writeImage(file, image);
    const fs::path received = rxDirectory / "received.bin";
    fs::remove(received);

    Win32SerialPort port;
    SerialTransferControl control(port, win32ComDeviceName);
    ASSERT_TRUE(control.setCommPort(static_cast<std::int16_t>(number)));
    ASSERT_TRUE(control.setSettings(k57600));
    ASSERT_TRUE(control.setEnableCancel(true));
    ASSERT_TRUE(control.setStartTimeout(20.0f));
    ASSERT_TRUE(control.setPortOpen(true)) << control.lastError();
    ASSERT_TRUE(control.setSendFileName(file.string()));
    // The rx of the case before may still be ending; a trigger sent now would reach it.
    for (int i = 0; i < 1000 && !fs::exists(rxDirectory / "ready"); ++i) Sleep(10);
    ASSERT_TRUE(fs::exists(rxDirectory / "ready")) << "the rx peer is not waiting for a trigger";
    ASSERT_TRUE(control.output(param.crc ? "c" : "n")); // the peer starts rx
    const bool sent = control.sendFile();
    control.setPortOpen(false);
    fs::remove(file);

    EXPECT_TRUE(sent) << control.lastError();
    EXPECT_EQ(control.transferStatus(), TransferStatus::complete);
    EXPECT_EQ(control.lastTransfer().progress.mode, param.crc ? XmodemMode::crc16 : XmodemMode::checksum);
    // rx has closed the file before it acknowledged the end.
    EXPECT_TRUE(test::isPaddedImage(image, test::readImage(received)));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RxLineTest, ::testing::ValuesIn(test::rxCases()),
                         [](const auto& testInfo) { return test::rxCaseName(testInfo.param); });

} // namespace
} // namespace qz
