// The upload sequence driven through the window's UpLoad click against a recording transfer
// control and a fake view with a fake clock; and the same sequence under a console-like host.

#include "updater/tests/support/window_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qz::test {
namespace {

const std::vector<std::string> kOpening = {
    "PortOpen?",     "CommPort=3",           "Settings=19200,n,8,1",  "InputLength=0",
    "Handshaking=0", "InputBufferSize=1024", "OutputBufferSize=1024", "InputMode=0",
    "PortOpen=1",    "EnableCancel=1",
};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const std::vector<std::string> kDisable = {"timer on",           "disable FileText", "disable Browse", "disable Label1",
                                           "disable ComPortSet", "disable UpLoad",   "PortOpen=0"};
const std::vector<std::string> kEnableInputs = {"enable UpLoad", "enable FileText", "enable Browse", "enable Label1",
                                                "enable ComPortSet"};
const std::vector<std::string> kWake = {
    "PortOpen=0",
    "Handshaking=0",
    "Settings=9600,n,8,1",
    "PortOpen=1",
    "sleep 100",
    "Output=<CR>",
    "sleep 100",
    "Output=7*450263<CR>",
    "PortOpen=0",
    "Handshaking=0",
    "Settings=57600,n,8,1",
    "PortOpen=1",
    "Output=<CR>",
    "sleep 100",
    "Output=7*450263<CR>",
    "PortOpen=0",
    "Handshaking=0",
    "Settings=19200,n,8,1",
    "PortOpen=1",
    "Output=<CR>",
    "sleep 100",
    "Output=7*450263<CR>",
    "sleep 100",
};
const std::vector<std::string> kListen = {
    "PortOpen=0",
    "Handshaking=0",
    "Settings=57600,n,8,1",
    "PortOpen=1",
    "text Status=Status: Waiting for Bootloader Start Character",
    "sleep 500",
};

class UploadTest : public ::testing::Test {
protected:
    UploadTest() {
        h.window.ComPort = 3;
        h.window.FileToUpLoad = "C:\\fw,1\\image.bin";
    }
    // The finish when the port was still open at its start.
    static std::vector<std::string> finishFromOpen() {
        return concat({kEnableInputs, {"PortOpen?", "PortOpen=0", "timer off", "text Status=Status: Idle"}});
    }
    void expectIdle() const {
        for (auto id :
             {ControlId::FileText, ControlId::Browse, ControlId::Label1, ControlId::ComPortSet, ControlId::UpLoad}) {
            EXPECT_TRUE(h.view.enabled(id)) << controlName(id);
        }
        EXPECT_FALSE(h.control.isOpen());
        EXPECT_FALSE(h.view.timerEnabled());
        EXPECT_EQ(h.view.textOf(ControlId::Status), "Status: Idle");
    }
    std::size_t count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(h.log.entries.begin(), h.log.entries.end(), entry));
    }
    WindowHarness h;
};

TEST_F(UploadTest, SuccessfulUploadGivesEveryMemberAndTextInOrder) {
    h.control.queueInput("");
    h.control.queueInput("ab");
    h.control.queueInput("%");
    const UploadResult result = h.window.UpLoadClick();

    const auto expected = concat({
        kDisable,
        kOpening,
        kWake,
        kListen,
        {"Input?", "Input?", "Input?", "text Status=Status: Start Character Received. Uploading Firmware....",
         "Output={", "text Status=Status: Upload Sequence Started", "Settings=57600,n,8,1", "PortOpen=1",
         "SendFileName=C:\\fw,1\\image.bin", "SendFile", "timer off", "TransferStatus?", "PortOpen=0",
         "message Success!|File Transfer Complete|None|Ok"},
        kEnableInputs,
        {"PortOpen?", "timer off", "text Status=Status: Idle"},
    });
    EXPECT_EQ(h.log.entries, expected);
    EXPECT_EQ(result.outcome, UploadOutcome::Success);
    EXPECT_EQ(result.transferStatus, std::optional(TransferStatus::complete));
    expectIdle();
}

TEST_F(UploadTest, CounterIsClearedBeforeAndAfterTheFileIsSent) {
    // "%" arrives late, when the counter is already 5; the transfer itself lasts 30 ticks.
    h.control.inputSource = [this] { return h.window.SerialTimer == 5 ? std::string("%") : std::string(); };
    std::optional<int> counterAtSend;
    h.control.onSendFile = [this, &counterAtSend] {
        counterAtSend = h.window.SerialTimer;
        for (int i = 0; i < 30; ++i) h.window.Timer1Timer();
    };
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    EXPECT_EQ(counterAtSend, 0);
    EXPECT_EQ(h.window.SerialTimer, 0);
}

TEST_F(UploadTest, TimeOutComesBetweenFiveAndSixSecondsAfterTheClearingInPass3) {
    const UploadResult result = h.window.UpLoadClick();
    EXPECT_EQ(result.outcome, UploadOutcome::TimedOut);

    // The clearing in pass 3 comes right before its wake-up command (the third one).
    std::size_t command = 0;
    for (int i = 0; i < 3; ++i) command = h.log.find("Output=7*450263<CR>", i == 0 ? 0 : command + 1);
    const std::size_t message =
        h.log.find("message Updater7304|Serial Timeout. Please check QZ450 serial connection|None|Ok");
    ASSERT_LT(command, h.log.entries.size());
    ASSERT_LT(message, h.log.entries.size());
    const auto waited = h.log.times[message] - h.log.times[command];
    EXPECT_GT(waited, 5000u);
    EXPECT_LE(waited, 6000u);

    // The message, then the counter cleared and Timer1 off, then the finish; nothing was sent.
    const std::vector<std::string> tail(h.log.entries.begin() + static_cast<std::ptrdiff_t>(message) + 1,
                                        h.log.entries.end());
    EXPECT_EQ(tail, concat({{"timer off"}, finishFromOpen()}));
    EXPECT_EQ(h.window.SerialTimer, 0);
    EXPECT_FALSE(h.log.contains("Output={"));
    EXPECT_FALSE(h.log.contains("SendFile"));
    expectIdle();
}

TEST_F(UploadTest, TimeOutWinsOverTheStartCharacterInTheSamePoll) {
    h.control.inputSource = [this] { return h.window.SerialTimer > 5 ? std::string("%") : std::string(); };
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::TimedOut);
    EXPECT_FALSE(h.log.contains("Output={"));
    EXPECT_EQ(h.log.withPrefix("message ").size(), 1u);
}

TEST_F(UploadTest, OnlyAFirstCharacterPercentCountsAndTheAnswerGoesOutInTheSamePoll) {
    // "x%" does not count; each read replaces the text, so "x%" is gone at the next read.
    h.control.queueInput("x%");
    h.control.queueInput("");
    h.control.queueInput("%rest");
    const auto pumpsBefore = h.view.pumps();
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    EXPECT_EQ(count("Input?"), 3u);
    EXPECT_EQ(h.view.pumps() - pumpsBefore, 3u); // one pump per poll
    const std::size_t third = h.log.find("Input?", h.log.find("Input?", h.log.find("Input?") + 1) + 1);
    ASSERT_LT(third + 2, h.log.entries.size());
    EXPECT_EQ(h.log.entries[third + 1], "text Status=Status: Start Character Received. Uploading Firmware....");
    EXPECT_EQ(h.log.entries[third + 2], "Output={");
    EXPECT_EQ(count("Output={"), 1u);
}

TEST_F(UploadTest, WithoutAFileThePortIsOpenedAndClosedAndNothingIsSent) {
    h.window.FileToUpLoad.clear();
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::NoFile);
    EXPECT_EQ(h.log.entries, concat({kDisable, kOpening, finishFromOpen()}));
    expectIdle();
}

TEST_F(UploadTest, FailedTransferShowsNoMessageAndReturnsToIdle) {
    h.control.queueInput("%");
    h.control.statusAfterSend = TransferStatus::cancelled;
    const UploadResult result = h.window.UpLoadClick();
    EXPECT_EQ(result.outcome, UploadOutcome::TransferFailed);
    EXPECT_EQ(result.transferStatus, std::optional(TransferStatus::cancelled));
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    const std::size_t status = h.log.find("TransferStatus?");
    const std::vector<std::string> tail(h.log.entries.begin() + static_cast<std::ptrdiff_t>(status) + 1,
                                        h.log.entries.end());
    EXPECT_EQ(tail, finishFromOpen());
    expectIdle();
}

TEST_F(UploadTest, UnreadableTransferStatusCountsAsFailure) {
    h.control.queueInput("%");
    h.control.failMember("TransferStatus");
    const UploadResult result = h.window.UpLoadClick();
    EXPECT_EQ(result.outcome, UploadOutcome::TransferFailed);
    EXPECT_FALSE(result.transferStatus.has_value());
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    expectIdle();
}

TEST_F(UploadTest, ControlErrorsAfterTheOpeningAreSkipped) {
    // Outputs and the 9600 settings fail; the sequence goes on and still sends the file.
    h.control.failMember("Output", 3);
    h.control.failMember("Settings", 0);
    h.control.queueInput("%");
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    EXPECT_EQ(count("Output=7*450263<CR>"), 3u);
    EXPECT_TRUE(h.log.contains("SendFile"));
    EXPECT_TRUE(h.log.withPrefix("message Updater7304").empty());
}

TEST_F(UploadTest, AFailedReadKeepsTheTextItHeld) {
    h.control.failMember("Input", 2);
    h.control.queueInput("%");
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    EXPECT_EQ(count("Input?"), 3u);
}

TEST_F(UploadTest, SecondClickRunsTheWholeSequenceAgain) {
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::TimedOut);
    h.log.clear();
    h.control.queueInput("%");
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    const std::vector<std::string> start(h.log.entries.begin(),
                                         h.log.entries.begin() + static_cast<std::ptrdiff_t>(kDisable.size()));
    EXPECT_EQ(start, kDisable);
    EXPECT_EQ(count("Output=7*450263<CR>"), 3u);
    expectIdle();
}

TEST_F(UploadTest, ExitDuringTheWaitSavesTheSettingsAndEndsWithoutAnUploadMessage) {
    h.view.type(ControlId::FileText, "C:\\fw,1\\image.bin");
    h.view.schedule(3000, [this] { h.window.ExitClick(); });
    EXPECT_THROW(h.window.UpLoadClick(), ProcessEnded);

    ASSERT_FALSE(h.log.entries.empty());
    EXPECT_EQ(h.log.entries.back(), "end");
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    EXPECT_FALSE(h.log.contains("Output={"));
    EXPECT_FALSE(h.control.isOpen());
    // The close came from the shut-down: after the last read, the port is read and closed.
    const std::size_t lastRead =
        h.log.entries.size() - 1 -
        static_cast<std::size_t>(std::find(h.log.entries.rbegin(), h.log.entries.rend(), "Input?") -
                                 h.log.entries.rbegin());
    const std::vector<std::string> tail(h.log.entries.begin() + static_cast<std::ptrdiff_t>(lastRead) + 1,
                                        h.log.entries.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"PortOpen?", "PortOpen=0", "end"}));
    EXPECT_EQ(readBytes(h.settingsFile()).substr(0, 26), "3\r\n\"C:\\fw,1\\image.bin\"\r\n[M");
}

// OpenSerialPort stops at the failing member and gives no further one.
class OpenFailureTest : public UploadTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(OpenFailureTest, StopsAtTheFailingMemberTellsTheUserAndReturnsToIdle) {
    const std::size_t failing = GetParam();
    h.control.failCall(kOpening[failing]);
    const UploadResult result = h.window.UpLoadClick();

    EXPECT_EQ(result.outcome, UploadOutcome::PortFailed);
    const std::vector<std::string> opening(kOpening.begin(),
                                           kOpening.begin() + static_cast<std::ptrdiff_t>(failing) + 1);
    const auto expected = concat({
        kDisable,
        opening,
        {"message Updater7304|COM 3 is in use by another program or doesn't exist on your computer. "
         "Please check and try again|None|Ok"},
        kEnableInputs,
        {"text Status=Status: Idle", "timer off"},
    });
    EXPECT_EQ(h.log.entries, expected);
    EXPECT_TRUE(h.window.PortError);
}

INSTANTIATE_TEST_SUITE_P(EachMember, OpenFailureTest, ::testing::Range<std::size_t>(0, 10));

TEST_F(UploadTest, AnOpenPortCountsAsOpenedAndKeepsItsSettings) {
    // The close of step 4 fails, so the port is still open when OpenSerialPort reads it.
    h.control.setPortOpen(true);
    h.log.clear();
    h.control.failMember("PortOpen", 1);
    h.control.queueInput("%");
    EXPECT_EQ(h.window.UpLoadClick().outcome, UploadOutcome::Success);
    EXPECT_FALSE(h.log.contains("CommPort=3"));
    // The first settings given are the first wake-up pass's.
    EXPECT_EQ(h.log.withPrefix("Settings=").front(), "Settings=9600,n,8,1");
    EXPECT_FALSE(h.window.PortError);
}

TEST(SerialTimerTest, TicksCountUpAndStayAt255) {
    UpdaterState state;
    for (int i = 0; i < 6; ++i) tickSerialTimer(state);
    EXPECT_EQ(state.SerialTimer, 6);
    for (int i = 0; i < 400; ++i) tickSerialTimer(state);
    EXPECT_EQ(state.SerialTimer, 255);
}

// A console host: its pump advances a clock and ticks the counter each 1000 ms.
class ConsoleHost final : public UploadHost {
public:
    ConsoleHost(UpdaterState& state, CallLog& log) : state_(state), log_(log) {}
    void showStatus(std::string_view text) override { log_.add("status " + std::string(text)); }
    void showMessage(std::string_view text, std::string_view title) override {
        log_.add("message " + std::string(title) + "|" + std::string(text));
    }
    void pumpMessages() override {
        ++pumps;
        now += 10;
        if (timer && now % 1000 == 0) tickSerialTimer(state_);
    }
    void sleep(std::uint32_t ms) override { now += ms; }
    void setTimerEnabled(bool enabled) override { timer = enabled; }
    void setInputEnabled(ControlId, bool) override {}
    bool cancelRequested() override { return pumps >= cancelAfter; }

    std::uint64_t now = 0;
    int pumps = 0;
    int cancelAfter = 1 << 30;
    bool timer = false;

private:
    UpdaterState& state_;
    CallLog& log_;
};

TEST(ConsoleUploadTest, ListenOnlySkipsTheWakeUpAndHonoursItsLimit) {
    CallLog log;
    RecordingControl control(log);
    UpdaterState state;
    state.ComPort = 4;
    state.FileToUpLoad = "fw.bin";
    ConsoleHost host(state, log);
    UploadOptions options;
    options.wake = false;
    options.timeoutLimit = 2;
    UploadSequence sequence(control, host, state, options);
    EXPECT_EQ(sequence.run().outcome, UploadOutcome::TimedOut);
    EXPECT_FALSE(log.contains("Output=7*450263<CR>"));
    EXPECT_FALSE(log.contains("Settings=9600,n,8,1"));
    EXPECT_TRUE(log.contains("Settings=57600,n,8,1"));
    EXPECT_EQ(host.now, 3000u);
    EXPECT_EQ(log.withPrefix("message ").size(), 1u);
}

TEST(ConsoleUploadTest, CancelDuringTheWaitGoesThroughTheFinish) {
    CallLog log;
    RecordingControl control(log);
    UpdaterState state;
    state.FileToUpLoad = "fw.bin";
    ConsoleHost host(state, log);
    host.cancelAfter = 3;
    UploadSequence sequence(control, host, state);
    EXPECT_EQ(sequence.run().outcome, UploadOutcome::Cancelled);
    EXPECT_FALSE(control.isOpen());
    EXPECT_FALSE(host.timer);
    EXPECT_EQ(log.entries.back(), "status Status: Idle");
    EXPECT_TRUE(log.withPrefix("message ").empty());
}

} // namespace
} // namespace qz::test
