// SendFile against lrzsz's `rx` over a pty: the control with the termios transport on the
// slave side, rx relayed from the master. rx keeps the padding of the last block, so the
// received file must be the image followed by pad bytes up to a whole block.

#include "updater/core/serial_transfer_control.h"
#include "updater/posix/posix_serial_port.h"

#include "updater/tests/support/pty_program.h"
#include "updater/tests/support/rx_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qz {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRx = "/usr/bin/rx";

using test::RxCase;

class RxTest : public ::testing::TestWithParam<RxCase> {
protected:
    void SetUp() override {
        if (::access(kRx, X_OK) != 0) GTEST_SKIP() << "lrzsz rx not installed (scripts/setup installs it)";
        directory_ =
            fs::temp_directory_path() / ("qz_rx_" + std::to_string(::getpid()) + "_" + test::rxCaseName(GetParam()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override {
        if (!directory_.empty()) fs::remove_all(directory_);
    }

    fs::path directory_;
};

TEST_P(RxTest, ImageArrivesByteExact) {
    const RxCase param = GetParam();
    std::vector<std::uint8_t> image = test::randomImage(param.size, static_cast<unsigned>(param.size));
    if (!image.empty()) image.back() = 0x1A; // a pad-like last byte must survive too
    const fs::path file = directory_ / "image.bin";
    test::writeImage(file, image);

    std::vector<std::string> command = {kRx, "-b", "-q", "received.bin"};
    if (param.crc) command.insert(command.begin() + 1, "-c");
    test::PtyProgram rx(command, directory_.string(), (directory_ / "rx.log").string());
    ASSERT_TRUE(rx.started());
    PosixSerialPort port;
    SerialTransferControl control(port, win32ComDeviceName);
    control.setDevicePath(rx.slavePath());
    ASSERT_TRUE(control.setSettings({57600, Parity::none, 8, StopBits::one}));
    ASSERT_TRUE(control.setEnableCancel(true));
    ASSERT_TRUE(control.setStartTimeout(15.0f));
    ASSERT_TRUE(control.setPortOpen(true)) << control.lastError();
    ASSERT_TRUE(control.setSendFileName(file.string()));

    const bool sent = control.sendFile();
    control.setPortOpen(false);
    const int rxStatus = rx.wait();
    std::ifstream log(directory_ / "rx.log");
    const std::string rxLog((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());

    EXPECT_TRUE(sent) << control.lastError() << "\nrx said: " << rxLog;
    EXPECT_EQ(control.transferStatus(), TransferStatus::complete);
    EXPECT_EQ(rxStatus, 0) << rxLog;
    const TransferReport& report = control.lastTransfer();
    EXPECT_EQ(report.progress.mode, param.crc ? XmodemMode::crc16 : XmodemMode::checksum);
    EXPECT_EQ(report.progress.bytesAcked, image.size());

    EXPECT_TRUE(test::isPaddedImage(image, test::readImage(directory_ / "received.bin"))) << rxLog;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RxTest, ::testing::ValuesIn(test::rxCases()),
                         [](const auto& testInfo) { return test::rxCaseName(testInfo.param); });

} // namespace
} // namespace qz
