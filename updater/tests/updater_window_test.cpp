// The window's logic: start-up and shut-down sequences with the settings file, the port list
// and the file selection, against the fake view, dialog and transfer control.

#include "updater/tests/support/window_harness.h"

#include <gtest/gtest.h>

namespace qz::test {
namespace {

std::string loadMessage(const std::string& path) {
    return "message Updater7304|An error occured while loading file " + path +
           ". The default settings will be loaded instead.|Exclamation|Ok";
}

const std::vector<std::string> kPortItems = {"item 1", "item 2", "item 3", "item 4",
                                             "item 5", "item 6", "item 7", "item 8"};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const std::string kFullFile = "5\r\n\"C:\\fw, v2\\image,a.bin\"\r\n[Main]\r\nWindow Width=9000\r\n"
                              "Window Height=7000\r\nWindow Top=-120\r\nWindow Left=300\r\nWindow State=2\r\n";

// ---- Start-up -------------------------------------------------------------------------------

TEST(StartUpTest, FirstStartInAnEmptyFolderWarnsAndShowsTheDefaults) {
    WindowHarness h;
    h.window.Load();
    const auto expected = concat({
        {"text Status=Status: Idle", loadMessage(h.settingsFile()), "title Velkor 7304 Updater Version 7.0.3"},
        kPortItems,
        {"text ComPortSet=0", "timer off", "NullDiscard=0", "show BravlinkCRC2"},
    });
    EXPECT_EQ(h.log.entries, expected);
    EXPECT_EQ(h.window.ComPort, 0);
    EXPECT_EQ(h.window.FileToUpLoad, "");
    EXPECT_EQ(h.view.textOf(ControlId::FileText), "");
    EXPECT_EQ(h.view.comboItems().size(), 8u);
    EXPECT_FALSE(h.view.timerEnabled());
    EXPECT_FALSE(h.control.isOpen());
}

TEST(StartUpTest, RestoresGeometryStatePortAndAPathWithCommas) {
    WindowHarness h;
    writeBytes(h.settingsFile(), kFullFile);
    h.window.Load();
    const auto expected = concat({
        {"metric Width=9000", "metric Height=7000", "metric Top=-120", "metric Left=300", "state 2",
         "text Status=Status: Idle", "text FileText=C:\\fw, v2\\image,a.bin",
         "title Velkor 7304 Updater Version 7.0.3"},
        kPortItems,
        {"text ComPortSet=5", "timer off", "NullDiscard=0", "show BravlinkCRC2"},
    });
    EXPECT_EQ(h.log.entries, expected);
    EXPECT_EQ(h.window.ComPort, 5);
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw, v2\\image,a.bin");
}

TEST(StartUpTest, KeysWithoutANumberLeaveTheirPropertyAlone) {
    WindowHarness h;
    writeBytes(h.settingsFile(), "1\r\n\"\"\r\n[Main]\r\nWindow Width=Default\r\nWindow Height=abc\r\n"
                                 "Window Top=   \r\nWindow Left=1e3\r\nWindow State=7\r\n");
    h.window.Load();
    EXPECT_EQ(h.log.withPrefix("metric "), std::vector<std::string>{"metric Left=1000"});
    EXPECT_TRUE(h.log.withPrefix("state ").empty());
    EXPECT_EQ(h.view.metricOf(WindowMetric::Width), 7980.0f);
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
}

// A 1920 x 1040 pixel work area, in twips.
constexpr TwipsRect kWorkArea{0, 0, 28800, 15600};

TEST(WindowPlacementTest, TheSavedFrameComesBackInsideTheWorkArea) {
    constexpr float w = 7980, h = 6810; // design size
    const TwipsRect fits{1200, 900, 9000, 7800};
    EXPECT_EQ(placeInWorkArea(fits, kWorkArea, w, h), fits);
    // Closed while minimised: far off and tiny.
    EXPECT_EQ(placeInWorkArea({-480000, -480000, 2400, 420}, kWorkArea, w, h), (TwipsRect{0, 0, w, h}));
    // A monitor since unplugged, right of and above this one.
    EXPECT_EQ(placeInWorkArea({40000, -9000, 9000, 7800}, kWorkArea, w, h), (TwipsRect{19800, 0, 9000, 7800}));
    // Larger than the work area: shrunk to it.
    EXPECT_EQ(placeInWorkArea({300, 300, 40000, 7800}, kWorkArea, w, h), (TwipsRect{0, 300, 28800, 7800}));
    // A secondary monitor left of the primary one keeps negative coordinates.
    const TwipsRect left{-28800, 0, 28800, 15600};
    EXPECT_EQ(placeInWorkArea({-15000, 600, 9000, 7800}, left, w, h), (TwipsRect{-15000, 600, 9000, 7800}));
}

TEST(StartUpTest, AWindowClosedWhileMinimisedStartsOnTheNearestWorkAreaMinimised) {
    WindowHarness h;
    h.view.monitorWorkArea = kWorkArea;
    writeBytes(h.settingsFile(), "1\r\n\"\"\r\n[Main]\r\nWindow Width=2400\r\nWindow Height=420\r\n"
                                 "Window Top=-480000\r\nWindow Left=-480000\r\nWindow State=1\r\n");
    h.window.Load();
    EXPECT_EQ(h.view.workAreaAskedFor, (TwipsRect{-480000, -480000, 2400, 420}));
    EXPECT_EQ(h.log.withPrefix("metric "),
              (std::vector<std::string>{"metric Width=7980", "metric Height=6810", "metric Top=0", "metric Left=0"}));
    EXPECT_EQ(h.view.state(), kWindowMinimised);

    // Only the left edge saved, far off: the placement moves that side alone.
    WindowHarness one;
    one.view.monitorWorkArea = kWorkArea;
    writeBytes(one.settingsFile(), "1\r\n\"\"\r\n[Main]\r\nWindow Left=900000\r\n");
    one.window.Load();
    EXPECT_EQ(one.log.withPrefix("metric "), std::vector<std::string>{"metric Left=20820"});
}

TEST(StartUpTest, RecordsWithoutTheSectionRestorePortAndPathOnly) {
    WindowHarness h;
    writeBytes(h.settingsFile(), "12\r\n\"D:\\x.bin\"\r\n");
    h.window.Load();
    EXPECT_TRUE(h.log.withPrefix("metric ").empty());
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    EXPECT_EQ(h.window.ComPort, 12);
    EXPECT_EQ(h.view.textOf(ControlId::ComPortSet), "12");
    EXPECT_EQ(h.window.FileToUpLoad, "D:\\x.bin");
}

struct BadFile {
    const char* name;
    std::string bytes;
    bool message;
    std::int16_t port;
    std::string path;
};

class BadSettingsFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadSettingsFileTest, StartsWithoutHarmKeepingWhatCouldBeRead) {
    const BadFile& bad = GetParam();
    WindowHarness h;
    writeBytes(h.settingsFile(), bad.bytes);
    h.window.Load();
    EXPECT_EQ(h.log.contains(loadMessage(h.settingsFile())), bad.message);
    EXPECT_LE(h.log.withPrefix("message ").size(), 1u);
    EXPECT_EQ(h.window.ComPort, bad.port);
    EXPECT_EQ(h.window.FileToUpLoad, bad.path);
    EXPECT_EQ(h.view.textOf(ControlId::FileText), bad.path);
    // The sequence ran to its end.
    ASSERT_FALSE(h.log.entries.empty());
    EXPECT_EQ(h.log.entries.back(), "show BravlinkCRC2");
}

std::string binaryBytes() {
    std::string b;
    for (int i = 0; i < 2048; ++i) b.push_back(static_cast<char>((i * 53 + 7) % 256 == ',' ? 'x' : (i * 53 + 7) % 256));
    b[0] = '\x01';
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Each, BadSettingsFileTest,
    ::testing::Values(BadFile{"Empty", "", true, 0, ""}, BadFile{"PortOnly", "5\r\n", true, 5, ""},
                      BadFile{"TruncatedInThePath", "5\r\n\"C:\\fw\\ima", false, 5, "C:\\fw\\ima"},
                      BadFile{"NonNumericPort", "COM3\r\n\"C:\\fw.bin\"\r\n", true, 0, "C:\\fw.bin"},
                      BadFile{"PortOutOf16Bits", "70000\r\n\"C:\\fw.bin\"\r\n", true, 0, "C:\\fw.bin"},
                      BadFile{"FractionalPort", "7.5\r\n\"C:\\fw.bin\"\r\n", true, 0, "C:\\fw.bin"},
                      BadFile{"LongKeyValue",
                              "2\r\n\"C:\\fw.bin\"\r\n[Main]\r\nWindow Width=" + std::string(300, '9') +
                                  "\r\nWindow State=" + std::string(300, '1') + "\r\n",
                              false, 2, "C:\\fw.bin"},
                      BadFile{"NonNumericGeometry",
                              "2\r\n\"C:\\fw.bin\"\r\n[Main]\r\nWindow Width=wide\r\nWindow State=max\r\n", false, 2,
                              "C:\\fw.bin"},
                      BadFile{"Binary", binaryBytes(), true, 0, ""}),
    [](const auto& kind) { return std::string(kind.param.name); });

TEST(StartUpTest, AFailedLoadKeepsWhatTheWindowAlreadyHeld) {
    WindowHarness h;
    h.window.ComPort = 4;
    h.window.FileToUpLoad = "C:\\keep.bin";
    h.view.type(ControlId::FileText, "C:\\keep.bin");
    writeBytes(h.settingsFile(), "5\r\n");
    h.window.LoadPortAndFile(h.window.settingsFile());
    EXPECT_EQ(h.window.ComPort, 5); // read before the failure
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\keep.bin");
    EXPECT_EQ(h.view.textOf(ControlId::FileText), "C:\\keep.bin");

    writeBytes(h.settingsFile(), "port five\r\nunquoted.bin\r\n");
    h.window.LoadPortAndFile(h.window.settingsFile());
    EXPECT_EQ(h.window.ComPort, 5);
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\keep.bin");
    EXPECT_EQ(h.log.withPrefix("message ").size(), 2u);
}

TEST(StartUpTest, EveryStepRunsWhenOthersFail) {
    WindowHarness h;
    writeBytes(h.settingsFile(), kFullFile);
    h.view.failing = {"metric Width", "set Status", "set FileText", "title", "item"};
    h.control.failMember("NullDiscard");
    h.view.facts.versionMajor = 12;
    h.window.Load();
    EXPECT_EQ(h.log.entries,
              (std::vector<std::string>{"metric Height=7000", "metric Top=-120", "metric Left=300", "state 2",
                                        "text ComPortSet=5", "timer off", "NullDiscard=0", "show BravlinkCRC2"}));
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw, v2\\image,a.bin");
}

TEST(StartUpTest, TitleComesFromTheProgramVersion) {
    WindowHarness h;
    h.view.facts.versionMajor = 12;
    h.view.facts.versionMinor = 34;
    h.view.facts.versionRevision = 5;
    h.window.Load();
    EXPECT_EQ(h.view.currentTitle(), "Velkor 7304 Updater Version 12.34.5");
}

// ---- Shut-down ------------------------------------------------------------------------------

TEST(ShutDownTest, FirstStartThenExitWritesTheSettingsFileByteForByte) {
    WindowHarness h;
    h.window.Load();
    h.log.clear();
    EXPECT_THROW(h.window.ExitClick(), ProcessEnded);
    EXPECT_EQ(h.log.entries, (std::vector<std::string>{"PortOpen?", "end"}));
    EXPECT_EQ(readBytes(h.settingsFile()), "0\r\n\"\"\r\n[Main]\r\nWindow Width=7980\r\nWindow Height=6810\r\n"
                                           "Window Top=1200\r\nWindow Left=1800\r\nWindow State=0\r\n");
}

TEST(ShutDownTest, ASecondStartRestoresWhatTheFirstSaved) {
    WindowHarness first;
    first.window.Load();
    first.window.ComPortSetClick(2);
    first.dialog.picks.push_back("C:\\a,b\\c, d.bin");
    first.window.BrowseClick();
    first.view.setMetricDirect(WindowMetric::Top, -120.0f);
    first.view.setMetricDirect(WindowMetric::Width, 10005.0f);
    first.view.setStateDirect(kWindowMaximised);
    EXPECT_THROW(first.window.Unload(), ProcessEnded);
    EXPECT_EQ(readBytes(first.settingsFile()), "3\r\n\"C:\\a,b\\c, d.bin\"\r\n[Main]\r\nWindow Width=10005\r\n"
                                               "Window Height=6810\r\nWindow Top=-120\r\nWindow Left=1800\r\n"
                                               "Window State=2\r\n");

    WindowHarness second;
    writeBytes(second.settingsFile(), readBytes(first.settingsFile()));
    second.window.Load();
    EXPECT_TRUE(second.log.withPrefix("message ").empty());
    EXPECT_EQ(second.window.ComPort, 3);
    EXPECT_EQ(second.view.textOf(ControlId::ComPortSet), "3");
    EXPECT_EQ(second.window.FileToUpLoad, "C:\\a,b\\c, d.bin");
    EXPECT_EQ(second.view.metricOf(WindowMetric::Width), 10005.0f);
    EXPECT_EQ(second.view.metricOf(WindowMetric::Top), -120.0f);
    EXPECT_EQ(second.view.state(), kWindowMaximised);
}

TEST(ShutDownTest, ClosesAnOpenPortFirstAndDropsAnythingElseInTheFile) {
    WindowHarness h;
    writeBytes(h.settingsFile(), kFullFile + "[Other]\r\nKey=1\r\n");
    h.window.Load();
    h.control.setPortOpen(true);
    h.log.clear();
    EXPECT_THROW(h.window.Unload(), ProcessEnded);
    EXPECT_EQ(h.log.entries, (std::vector<std::string>{"PortOpen?", "PortOpen=0", "end"}));
    EXPECT_EQ(readBytes(h.settingsFile()), kFullFile);
}

TEST(ShutDownTest, SavesTheTypedTextAndThePortFromTheList) {
    WindowHarness h;
    writeBytes(h.settingsFile(), kFullFile);
    h.window.Load();
    h.view.type(ControlId::FileText, "E:\\typed.bin");
    h.view.type(ControlId::ComPortSet, "4"); // typed, not picked: ComPort stays 5
    EXPECT_THROW(h.window.ExitClick(), ProcessEnded);
    EXPECT_EQ(h.window.ComPort, 5);
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw, v2\\image,a.bin");
    EXPECT_EQ(readBytes(h.settingsFile()).substr(0, 21), "5\r\n\"E:\\typed.bin\"\r\n[M");
}

TEST(ShutDownTest, AFailingSaveIsReportedAndTheProcessStillEnds) {
    WindowHarness h;
    h.view.facts.folder = h.folder.file("gone");
    h.log.clear();
    EXPECT_THROW(h.window.ExitClick(), ProcessEnded);
    EXPECT_EQ(h.log.entries, (std::vector<std::string>{"PortOpen?",
                                                       "message Updater7304|An error occured while saving file " +
                                                           h.window.settingsPath() + "|Exclamation|Ok",
                                                       "end"}));
}

TEST(ShutDownTest, AMetricTheWindowCannotReportIsNotWritten) {
    WindowHarness h;
    h.view.failing = {"get metric Height", "get state"};
    EXPECT_THROW(h.window.ExitClick(), ProcessEnded);
    EXPECT_EQ(readBytes(h.settingsFile()),
              "0\r\n\"\"\r\n[Main]\r\nWindow Width=7980\r\nWindow Top=1200\r\nWindow Left=1800\r\n");
}

// ---- Port list ------------------------------------------------------------------------------

TEST(PortListTest, APickedItemSetsThePortFromItsPosition) {
    WindowHarness h;
    h.window.Load();
    h.window.ComPortSetClick(0);
    EXPECT_EQ(h.window.ComPort, 1);
    h.window.ComPortSetClick(7);
    EXPECT_EQ(h.window.ComPort, 8);
    h.window.ComPortSetClick(-1); // no item
    EXPECT_EQ(h.window.ComPort, 8);
}

TEST(PortListTest, TheUploadUsesThePortFromTheFileUntilAnItemIsPicked) {
    WindowHarness h;
    writeBytes(h.settingsFile(), "12\r\n\"\"\r\n");
    h.window.Load();
    h.window.UpLoadClick();
    EXPECT_TRUE(h.log.contains("CommPort=12"));
    h.window.ComPortSetClick(3);
    h.log.clear();
    h.window.UpLoadClick();
    EXPECT_TRUE(h.log.contains("CommPort=4"));
}

// ---- File selection -------------------------------------------------------------------------

class BrowseTest : public ::testing::Test {
protected:
    void preset(const std::string& path) {
        h.view.type(ControlId::FileText, path);
        h.window.FileToUpLoad = path;
    }
    std::vector<std::string> openDialog(const std::string& presetName) {
        return {"dialog title=Select File to Upload", "dialog filter=Update Files (*.bin)|*.bin",
                "dialog name=" + presetName, "dialog show"};
    }
    const std::string question =
        "message Updater7304|You do not have a binary file loaded. Would you like to try again?|Question|OkCancel";
    WindowHarness h;
};

TEST_F(BrowseTest, DialogGetsItsDefaultExtensionOnceWithTheWindow) { EXPECT_EQ(h.dialog.defaultExtension(), ".bin"); }

TEST_F(BrowseTest, APickedBinFileIsTakenWithoutAQuestion) {
    preset("C:\\old.bin");
    h.dialog.picks.push_back("C:\\fw\\image.BIN");
    h.window.BrowseClick();
    EXPECT_EQ(h.log.entries, concat({openDialog("C:\\old.bin"), {"text FileText=C:\\fw\\image.BIN"}}));
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw\\image.BIN");
}

TEST_F(BrowseTest, BinAnywhereInThePathInAnyCaseIsAccepted) {
    for (const std::string path : {"C:\\Bin\\fw.hex", "C:\\CABINET\\fw.hex", "C:\\x\\fw.bIn.txt"}) {
        h.log.clear();
        h.dialog.picks.push_back(path);
        h.window.BrowseClick();
        EXPECT_TRUE(h.log.withPrefix("message ").empty()) << path;
        EXPECT_EQ(h.window.FileToUpLoad, path);
    }
}

TEST_F(BrowseTest, BinBeyondPosition255OfALongPathIsAccepted) {
    const std::string path = "C:\\" + std::string(300, 'd') + "\\fw.bin";
    h.dialog.picks.push_back(path);
    h.window.BrowseClick();
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    EXPECT_EQ(h.window.FileToUpLoad, path);
}

TEST_F(BrowseTest, OkReopensThePresetWithTheRejectedPath) {
    h.dialog.picks.push_back("C:\\fw\\image.hex");
    h.dialog.picks.push_back("C:\\fw\\image.bin");
    h.view.answers.push_back(MessageResult::Ok);
    h.window.BrowseClick();
    EXPECT_EQ(h.log.entries, concat({openDialog(""),
                                     {"text FileText=C:\\fw\\image.hex", question},
                                     openDialog("C:\\fw\\image.hex"),
                                     {"text FileText=C:\\fw\\image.bin"}}));
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw\\image.bin");
}

TEST_F(BrowseTest, CancelKeepsTheRejectedPath) {
    h.dialog.picks.push_back("C:\\fw\\image.hex");
    h.view.answers.push_back(MessageResult::Cancel);
    h.window.BrowseClick();
    EXPECT_EQ(h.log.withPrefix("message ").size(), 1u);
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\fw\\image.hex");
    EXPECT_EQ(h.view.textOf(ControlId::FileText), "C:\\fw\\image.hex");
}

TEST_F(BrowseTest, ADialogClosedWithoutANameEmptiesTheChoiceSilently) {
    preset("C:\\old.bin");
    h.dialog.cancelClearsName = true;
    h.window.BrowseClick();
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    EXPECT_EQ(h.window.FileToUpLoad, "");
    EXPECT_EQ(h.view.textOf(ControlId::FileText), "");
}

TEST_F(BrowseTest, ACancelThatKeepsThePresetKeepsTheChoice) {
    preset("C:\\old.bin");
    h.window.BrowseClick();
    EXPECT_TRUE(h.log.withPrefix("message ").empty());
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\old.bin");
}

TEST_F(BrowseTest, ADialogThatCannotBeShownLeavesThePresetToTheTest) {
    preset("C:\\old.hex");
    h.dialog.failing = {"show"};
    h.view.answers.push_back(MessageResult::Cancel);
    h.window.BrowseClick();
    EXPECT_EQ(h.log.withPrefix("message "), std::vector<std::string>{question});
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\old.hex");
}

TEST_F(BrowseTest, AnUnreadableDialogNameChangesNothing) {
    preset("C:\\old.bin");
    h.dialog.failing = {"get name"};
    h.dialog.picks.push_back("C:\\new.bin");
    h.window.BrowseClick();
    EXPECT_EQ(h.window.FileToUpLoad, "C:\\old.bin");
    EXPECT_TRUE(h.log.withPrefix("text FileText").empty());
}

} // namespace
} // namespace qz::test
