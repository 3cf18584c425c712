// SendFile against lrzsz's `rx` over a pty: the control with the termios transport on the
// slave side, rx relayed from the master. rx keeps the padding of the last block, so the
// received file must be the image followed by pad bytes up to a whole block.

#include "updater/core/serial_transfer_control.h"
#include "updater/posix/posix_serial_port.h"

#include "updater/tests/support/pty_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace qz {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRx = "/usr/bin/rx";

struct RxCase {
    std::size_t size;
    bool crc;
};

std::string caseName(const ::testing::TestParamInfo<RxCase>& info) {
    return std::to_string(info.param.size) + (info.param.crc ? "_crc" : "_checksum");
}

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RxTest : public ::testing::TestWithParam<RxCase> {
protected:
    void SetUp() override {
        if (::access(kRx, X_OK) != 0) GTEST_SKIP() << "lrzsz rx not installed (scripts/setup installs it)";
        directory_ =
            fs::temp_directory_path() / ("qz_rx_" + std::to_string(::getpid()) + "_" + caseName({GetParam(), 0}));
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
    std::vector<std::uint8_t> image(param.size);
    std::mt19937 random(static_cast<unsigned>(param.size));
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
    if (!image.empty()) image.back() = 0x1A; // a pad-like last byte must survive too
    const fs::path file = directory_ / "image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

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

    const std::vector<std::uint8_t> received = readAll(directory_ / "received.bin");
    const std::size_t blocks = (image.size() + 127) / 128;
    ASSERT_EQ(received.size(), blocks * 128) << rxLog;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), received.begin()));
    EXPECT_TRUE(std::all_of(received.begin() + static_cast<std::ptrdiff_t>(image.size()), received.end(),
                            [](std::uint8_t byte) { return byte == 26; }));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RxTest,
                         ::testing::Values(RxCase{0, true}, RxCase{1, true}, RxCase{127, true}, RxCase{128, true},
                                           RxCase{129, true}, RxCase{1 << 20, true}, RxCase{0, false}, RxCase{1, false},
                                           RxCase{127, false}, RxCase{128, false}, RxCase{129, false},
                                           RxCase{1 << 20, false}),
                         caseName);

} // namespace
} // namespace qz
