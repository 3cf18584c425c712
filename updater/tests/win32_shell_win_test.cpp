// The Win32 window shell against the real system: controls as created from the layout table,
// the view operations over them, events reaching their handlers, message boxes, the open-file
// dialog, program facts from the version resource, and the transfer control's drawn area.

#include "updater/tests/support/window_harness.h"

#include "common/win32/text.h"
#include "updater/win32/win32_drawn_control.h"
#include "updater/win32/win32_file_dialog.h"
#include "updater/win32/win32_main_window.h"
#include "updater/win32/win32_program_facts.h"
#include "updater/win32/win32_transfer_area.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qz::test {
namespace {

using win32::MainWindow;
using win32::narrow;
using win32::widen;

std::wstring classOf(HWND hwnd) {
    wchar_t name[128] = {};
    GetClassNameW(hwnd, name, 128);
    return name;
}

std::wstring textOf(HWND hwnd) {
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    return text;
}

RECT placeOf(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int px(int twips) { return twips / 15; }

// Leaves no WM_QUIT behind for the next test: it would end the next modal loop at once.
void dropQuit() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
}

// Answers the next dialog box (class #32770) of this process from another thread, as a user
// would: `act` gets the box, may fill it in, and returns the button to press. Boxes that come
// up after that one (an error the first answer caused) are cancelled, so that a failing test
// ends instead of waiting for ever; extraBoxes() counts them.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::function<int(HWND)> act) : act_(std::move(act)) {
        thread_ = std::thread([this] { run(); });
    }
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::wstring title() const { return title_; }
    std::wstring text() const { return text_; }
    bool answered() const { return answered_; }
    int extraBoxes() const { return extra_; }

private:
    void run() {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::seconds(60);
        auto lastPress = Clock::now();
        while (!stop_ && Clock::now() < end) {
            HWND box = find();
            if (box && !answered_) {
                Sleep(100); // let it finish laying itself out
                title_ = textOf(box);
                for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                    if (_wcsicmp(classOf(c).c_str(), L"Static") == 0 && !textOf(c).empty()) text_ = textOf(c);
                }
                press(box, act_(box));
                answered_ = true;
                lastPress = Clock::now();
            } else if (box && Clock::now() - lastPress > std::chrono::seconds(3)) {
                ++extra_;
                press(box, IDCANCEL);
                lastPress = Clock::now();
            }
            Sleep(20);
        }
    }
    static void press(HWND box, int button) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    }
    struct Search {
        HWND found = nullptr;
    };
    static BOOL CALLBACK visit(HWND hwnd, LPARAM data) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        // The enabled one is the box in front (an error box disables the dialog under it).
        if (pid == GetCurrentProcessId() && classOf(hwnd) == L"#32770" && IsWindowVisible(hwnd) &&
            IsWindowEnabled(hwnd)) {
            reinterpret_cast<Search*>(data)->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    static HWND find() {
        Search search;
        EnumWindows(&DialogAnswerer::visit, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    std::function<int(HWND)> act_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> answered_{false};
    std::atomic<int> extra_{0};
    std::wstring title_;
    std::wstring text_;
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.create()); }
    void TearDown() override {
        if (window.hwnd()) DestroyWindow(window.hwnd());
        dropQuit();
    }
    HWND control(ControlId id) const { return window.control(id); }

    MainWindow window{GetModuleHandleW(nullptr)};
};

TEST_F(ShellTest, CreatesEveryControlAsAStandardControlAtItsPlace) {
    RECT client{};
    GetClientRect(window.hwnd(), &client);
    EXPECT_EQ(client.right, 524);
    EXPECT_EQ(client.bottom, 427);
    EXPECT_EQ(classOf(window.hwnd()), L"VelkorUpdater");
    EXPECT_EQ(*window.title(), "Velkor 7304 Updater V2.5");

    for (const ControlLayout& c : kWindowLayout) {
        SCOPED_TRACE(std::string(c.name));
        HWND hwnd = control(c.id);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(GetParent(hwnd), window.hwnd());
        EXPECT_TRUE(IsWindowEnabled(hwnd));
        const RECT r = placeOf(window.hwnd(), hwnd);
        EXPECT_EQ(r.left, px(c.left));
        EXPECT_EQ(r.top, px(c.top));
        EXPECT_EQ(r.right - r.left, px(c.width));
        // A drop-down combo box sizes its closed height to its font.
        if (c.kind != ControlKind::ComboBox) {
            EXPECT_EQ(r.bottom - r.top, px(c.height));
        }
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        switch (c.kind) {
        case ControlKind::Frame:
            EXPECT_EQ(classOf(hwnd), L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            break;
        case ControlKind::Button:
            EXPECT_EQ(classOf(hwnd), L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
            break;
        case ControlKind::Label: EXPECT_EQ(classOf(hwnd), L"Static"); break;
        case ControlKind::ComboBox:
            EXPECT_EQ(classOf(hwnd), L"ComboBox");
            EXPECT_EQ(style & 3, CBS_DROPDOWN);
            break;
        case ControlKind::TextBox:
            EXPECT_EQ(classOf(hwnd), L"Edit");
            EXPECT_EQ(style & (ES_READONLY | ES_MULTILINE), 0);
            break;
        case ControlKind::TransferArea: EXPECT_EQ(classOf(hwnd), win32::TransferArea::kClassName); break;
        }
        if (c.kind != ControlKind::TransferArea) {
            EXPECT_EQ(narrow(textOf(hwnd)), c.caption);
        }
    }
}

TEST_F(ShellTest, TabOrderFollowsTheLayoutAndFramesLieBehindTheirContent) {
    std::vector<HWND> order;
    HWND first = GetNextDlgTabItem(window.hwnd(), nullptr, FALSE);
    for (HWND c = first; c && order.size() < 20;) {
        order.push_back(c);
        c = GetNextDlgTabItem(window.hwnd(), c, FALSE);
        if (c == first) break;
    }
    const std::vector<HWND> expected{control(ControlId::Browse), control(ControlId::FileText),
                                     control(ControlId::ComPortSet), control(ControlId::UpLoad),
                                     control(ControlId::Exit)};
    EXPECT_EQ(order, expected);

    // Z-order, top first: a frame must come after every control lying inside it.
    std::vector<HWND> z;
    for (HWND c = GetWindow(window.hwnd(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) z.push_back(c);
    const auto rank = [&](ControlId id) { return std::find(z.begin(), z.end(), control(id)) - z.begin(); };
    EXPECT_GT(rank(ControlId::Frame1), rank(ControlId::Label1));
    EXPECT_GT(rank(ControlId::Frame1), rank(ControlId::ComPortSet));
    EXPECT_GT(rank(ControlId::Frame2), rank(ControlId::FileText));
    EXPECT_GT(rank(ControlId::Frame2), rank(ControlId::Browse));
    EXPECT_GT(rank(ControlId::Frame2), rank(ControlId::UpLoad));
}

TEST_F(ShellTest, BrowseHasTheFocusWhenShownAndADisabledControlHandsItOn) {
    window.show();
    EXPECT_EQ(GetFocus(), control(ControlId::Browse));

    SetFocus(control(ControlId::UpLoad));
    ASSERT_TRUE(window.setEnabled(ControlId::UpLoad, false));
    EXPECT_FALSE(IsWindowEnabled(control(ControlId::UpLoad)));
    EXPECT_EQ(GetFocus(), control(ControlId::Exit));
    ASSERT_TRUE(window.setEnabled(ControlId::UpLoad, true));
    EXPECT_TRUE(IsWindowEnabled(control(ControlId::UpLoad)));
}

TEST_F(ShellTest, TextsCaptionsAndTheComboListGoThroughTheControls) {
    const std::string path = "C:\\Firmware, 2024\\\"QZ450\" image.bin";
    ASSERT_TRUE(window.setText(ControlId::FileText, path));
    EXPECT_EQ(*window.text(ControlId::FileText), path);
    ASSERT_TRUE(window.setText(ControlId::Status, "Status: Idle"));
    EXPECT_EQ(textOf(control(ControlId::Status)), L"Status: Idle");
    ASSERT_TRUE(window.setTitle("Velkor 7304 Updater Version 7.0.3"));
    EXPECT_EQ(textOf(window.hwnd()), L"Velkor 7304 Updater Version 7.0.3");

    EXPECT_EQ(window.comboCount(ControlId::ComPortSet), 0);
    for (const char* item : {"1", "2", "3"}) EXPECT_TRUE(window.addComboItem(ControlId::ComPortSet, item));
    EXPECT_EQ(window.comboCount(ControlId::ComPortSet), 3);
    ASSERT_TRUE(window.setText(ControlId::ComPortSet, "12"));
    EXPECT_EQ(*window.text(ControlId::ComPortSet), "12");
    EXPECT_EQ(SendMessageW(control(ControlId::ComPortSet), CB_GETCURSEL, 0, 0), CB_ERR);

    // The transfer control's area has no text of its own; only the combo box has a list.
    EXPECT_FALSE(window.setText(ControlId::BravlinkCRC2, "x"));
    EXPECT_FALSE(window.text(ControlId::BravlinkCRC2));
    EXPECT_FALSE(window.addComboItem(ControlId::FileText, "1"));
    EXPECT_FALSE(window.comboCount(ControlId::Exit));

    ASSERT_TRUE(window.setVisible(ControlId::BravlinkCRC2, false));
    EXPECT_FALSE(IsWindowVisible(control(ControlId::BravlinkCRC2)));
}

TEST_F(ShellTest, GeometryIsTheOuterFrameInTwips) {
    ASSERT_TRUE(window.setMetric(WindowMetric::Width, 9000));
    ASSERT_TRUE(window.setMetric(WindowMetric::Height, 7800));
    ASSERT_TRUE(window.setMetric(WindowMetric::Top, 1200));
    ASSERT_TRUE(window.setMetric(WindowMetric::Left, -450));
    RECT r{};
    GetWindowRect(window.hwnd(), &r);
    EXPECT_EQ(r.left, -30);
    EXPECT_EQ(r.top, 80);
    EXPECT_EQ(r.right - r.left, 600);
    EXPECT_EQ(r.bottom - r.top, 520);
    EXPECT_EQ(window.metric(WindowMetric::Width), 9000.0f);
    EXPECT_EQ(window.metric(WindowMetric::Height), 7800.0f);
    EXPECT_EQ(window.metric(WindowMetric::Top), 1200.0f);
    EXPECT_EQ(window.metric(WindowMetric::Left), -450.0f);

    // Values no window can take are refused and change nothing.
    EXPECT_FALSE(window.setMetric(WindowMetric::Width, -15));
    EXPECT_FALSE(window.setMetric(WindowMetric::Height, std::nanf("")));
    EXPECT_FALSE(window.setMetric(WindowMetric::Left, 1e30f));
    EXPECT_FALSE(window.setMetric(WindowMetric::Top, INFINITY));
    EXPECT_EQ(window.metric(WindowMetric::Width), 9000.0f);
    EXPECT_EQ(window.metric(WindowMetric::Left), -450.0f);
}

TEST_F(ShellTest, WindowStateChosenBeforeShowingIsTheStateShownIn) {
    EXPECT_FALSE(window.setWindowState(3));
    ASSERT_TRUE(window.setWindowState(kWindowMaximised));
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    EXPECT_EQ(window.windowState(), kWindowMaximised);
    window.show();
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));
    EXPECT_TRUE(IsZoomed(window.hwnd()));
    EXPECT_EQ(window.windowState(), kWindowMaximised);
    // A maximised window cannot be moved or sized.
    EXPECT_FALSE(window.setMetric(WindowMetric::Left, 0));

    ASSERT_TRUE(window.setWindowState(kWindowNormal));
    EXPECT_FALSE(IsZoomed(window.hwnd()));
    EXPECT_EQ(window.windowState(), kWindowNormal);
}

TEST_F(ShellTest, EventsReachTheirHandlersThroughThePump) {
    std::vector<std::string> seen;
    win32::WindowEvents events;
    events.unload = [&] { seen.push_back("unload"); };
    events.exitClick = [&] { seen.push_back("exit"); };
    events.browseClick = [&] { seen.push_back("browse"); };
    events.upLoadClick = [&] { seen.push_back("upload"); };
    events.comPortSetClick = [&](int index) { seen.push_back("port " + std::to_string(index)); };
    events.timer1Tick = [&] { seen.push_back("tick"); };
    window.setEvents(events);
    HWND main = window.hwnd();
    const auto command = [&](ControlId id, int code) {
        HWND c = control(id);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), code), reinterpret_cast<LPARAM>(c));
    };

    command(ControlId::Browse, BN_CLICKED);
    command(ControlId::UpLoad, BN_CLICKED);
    command(ControlId::Exit, BN_CLICKED);
    SendMessageW(control(ControlId::ComPortSet), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"1"));
    SendMessageW(control(ControlId::ComPortSet), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"2"));
    SendMessageW(control(ControlId::ComPortSet), CB_SETCURSEL, 1, 0);
    command(ControlId::ComPortSet, CBN_SELCHANGE);
    // Typing into the combo's field is no pick.
    command(ControlId::ComPortSet, CBN_EDITCHANGE);
    // Timer1 ticks only while enabled.
    PostMessageW(main, WM_TIMER, 1, 0);
    window.pumpMessages();
    EXPECT_EQ(seen, (std::vector<std::string>{"browse", "upload", "exit", "port 1"}));

    seen.clear();
    window.setTimer1Enabled(true);
    PostMessageW(main, WM_TIMER, 1, 0);
    window.pumpMessages();
    window.setTimer1Enabled(false);
    PostMessageW(main, WM_TIMER, 1, 0);
    window.pumpMessages();
    EXPECT_EQ(seen, (std::vector<std::string>{"tick"}));

    // The close box runs the unload handler; should that return, the window still closes.
    seen.clear();
    PostMessageW(main, WM_CLOSE, 0, 0);
    window.pumpMessages();
    EXPECT_EQ(seen, (std::vector<std::string>{"unload"}));
    EXPECT_FALSE(IsWindow(main));
}

TEST_F(ShellTest, MessageBoxShowsTitleAndTextAndReturnsTheButton) {
    {
        DialogAnswerer answer([](HWND) { return IDCANCEL; });
        EXPECT_EQ(window.messageBox("You do not have a binary file loaded. Would you like to try again?", "Updater7304",
                                    MessageIcon::Question, MessageButtons::OkCancel),
                  MessageResult::Cancel);
        EXPECT_EQ(answer.title(), L"Updater7304");
        EXPECT_EQ(answer.text(), L"You do not have a binary file loaded. Would you like to try again?");
    }
    {
        DialogAnswerer answer([](HWND) { return IDOK; });
        EXPECT_EQ(window.messageBox("try again", "Updater7304", MessageIcon::Question, MessageButtons::OkCancel),
                  MessageResult::Ok);
    }
    {
        DialogAnswerer answer([](HWND) { return IDOK; });
        EXPECT_EQ(window.messageBox("File Transfer Complete", "Success!", MessageIcon::None, MessageButtons::Ok),
                  MessageResult::Ok);
        EXPECT_EQ(answer.title(), L"Success!");
        EXPECT_EQ(answer.text(), L"File Transfer Complete");
    }
}

TEST(ProgramFactsTest, VersionAndTitleComeFromTheVersionResource) {
    const auto version = win32::readVersionResource(widen(QZ_BUILD_DIR "/Updater7304.exe"));
    ASSERT_TRUE(version) << "Updater7304.exe has no version resource";
    EXPECT_EQ(version->major, 7);
    EXPECT_EQ(version->minor, 0);
    EXPECT_EQ(version->revision, 3);
    EXPECT_EQ(version->productName, "Updater7304");

    // This test program carries none: the facts keep their defaults, the folder is its own.
    EXPECT_FALSE(win32::readVersionResource(win32::programPath()));
    EXPECT_FALSE(win32::readVersionResource(L"no such file.exe"));
    const ProgramFacts facts = win32::currentProgramFacts();
    const std::wstring self = win32::programPath();
    EXPECT_EQ(facts.folder, narrow(self.substr(0, self.find_last_of(L'\\'))));
    EXPECT_EQ(facts.applicationTitle, "Updater7304");
    EXPECT_EQ(facts.versionMajor, 0);
}

TEST(OpenFileDialogTest, FilterTakesTheSystemsForm) {
    using namespace std::string_literals;
    EXPECT_EQ(win32::systemFilter("Update Files (*.bin)|*.bin"), "Update Files (*.bin)\0*.bin\0\0"s);
    EXPECT_EQ(win32::systemFilter(""), "");
    win32::OpenFileDialog dialog;
    EXPECT_TRUE(dialog.setFilter("Update Files (*.bin)|*.bin"));
    EXPECT_FALSE(dialog.setFilter("Update Files (*.bin)|*.bin|All"));
}

// The name box of the open-file dialog: a combo box (Explorer style) or an edit.
HWND nameBox(HWND dialog) {
    if (HWND combo = GetDlgItem(dialog, 0x47c)) return combo;
    return GetDlgItem(dialog, 0x480);
}

class OpenFileDialogRun : public ::testing::Test {
protected:
    void SetUp() override {
        writeBytes(folder.file("fw.bin"), "firmware");
        dialog.setTitle("Select File to Upload");
        dialog.setFilter("Update Files (*.bin)|*.bin");
        dialog.setDefaultExtension(".bin");
    }
    // Opens the dialog with no preset, types `name` into its name box and presses Open: the name
    // the dialog then holds. No other box may have come up.
    std::string openTyped(const std::string& name) {
        EXPECT_TRUE(dialog.setFileName(""));
        const std::wstring typed = widen(name);
        DialogAnswerer answer([&](HWND box) {
            SetWindowTextW(nameBox(box), typed.c_str());
            return IDOK;
        });
        EXPECT_TRUE(dialog.showOpen());
        EXPECT_EQ(answer.extraBoxes(), 0);
        return dialog.fileName().value_or("");
    }
    ScratchFolder folder;
    win32::OpenFileDialog dialog;
};

TEST_F(OpenFileDialogRun, OkReturnsThePresetFileWithItsFullPath) {
    ASSERT_TRUE(dialog.setFileName(folder.file("fw.bin")));
    DialogAnswerer answer([](HWND) { return IDOK; });
    EXPECT_TRUE(dialog.showOpen());
    EXPECT_EQ(answer.title(), L"Select File to Upload");
    EXPECT_EQ(answer.extraBoxes(), 0);
    EXPECT_EQ(*dialog.fileName(), folder.file("fw.bin"));
}

TEST_F(OpenFileDialogRun, ATypedNameWithoutExtensionGetsTheDefaultOne) {
    EXPECT_EQ(openTyped(folder.file("fw")), folder.file("fw.bin"));
}

TEST_F(OpenFileDialogRun, ATypedNameOfAFileNotThereIsReturnedAsTyped) {
    EXPECT_EQ(openTyped(folder.file("new image.hex")), folder.file("new image.hex"));
}

TEST_F(OpenFileDialogRun, CancelKeepsThePresetName) {
    const std::string preset = folder.file("old image.hex");
    ASSERT_TRUE(dialog.setFileName(preset));
    DialogAnswerer answer([](HWND) { return IDCANCEL; });
    EXPECT_FALSE(dialog.showOpen());
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(*dialog.fileName(), preset);
}

// Answers the serial control like a receiver that asks for CRC blocks and acknowledges each
// block and the end of transmission at once.
class AnsweringPort final : public SerialPort {
public:
    PortStatus open(const std::string& device, const LineSettings&, const PortOptions&) override {
        if (device != "\\\\.\\COM3") return PortStatus::failure(PortErrorKind::noSuchDevice, "no " + device);
        device_ = device;
        open_ = true;
        answers_.assign(1, 'C');
        return {};
    }
    void close() noexcept override { open_ = false; }
    bool isOpen() const override { return open_; }
    const std::string& device() const override { return device_; }
    PortStatus reconfigure(const LineSettings&) override { return {}; }
    PortStatus setDtr(bool) override { return {}; }
    PortStatus setRts(bool) override { return {}; }
    PortStatus setHandshaking(Handshaking) override { return {}; }
    PortStatus write(std::span<const std::uint8_t> bytes) override {
        if (!open_) return PortStatus::failure(PortErrorKind::notOpen, "closed");
        if (!bytes.empty() && (bytes[0] == 0x01 || bytes[0] == 0x04)) answers_.push_back(0x06);
        return {};
    }
    ReadResult read(std::span<std::uint8_t> buffer, int) override {
        if (!open_) return {ReadStatus::error, 0};
        if (answers_.empty() || buffer.empty()) return {ReadStatus::timedOut, 0};
        buffer[0] = answers_.front();
        answers_.pop_front();
        return {ReadStatus::data, 1};
    }
    const PortStatus& lastReadError() const override { return error_; }
    PortStatus discardInput() override { return {}; }

private:
    std::string device_;
    bool open_ = false;
    std::deque<std::uint8_t> answers_;
    PortStatus error_;
};

class DrawnControlTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        writeBytes(folder.file("fw.bin"), std::string(200, 'x'));
    }
    std::string areaText() { return narrow(textOf(control(ControlId::BravlinkCRC2))); }

    ScratchFolder folder;
    AnsweringPort port;
    SerialTransferControl serial{port, [](int n) { return win32ComDeviceName(n); }};
    int pumps = 0;
    std::function<void()> onPump;
    win32::DrawnTransferControl drawn{serial, window.transferArea(), [this] {
                                          ++pumps;
                                          if (onPump) onPump();
                                      }};
};

TEST_F(DrawnControlTest, TheAreaFollowsThePortAndATransfer) {
    drawn.refresh();
    EXPECT_EQ(areaText(), "COM1 closed");
    ASSERT_TRUE(drawn.setCommPort(3));
    ASSERT_TRUE(drawn.setSettings({57600, Parity::none, 8, StopBits::one}));
    ASSERT_TRUE(drawn.setPortOpen(true));
    EXPECT_EQ(areaText().rfind("COM3 open", 0), 0u) << areaText();

    ASSERT_TRUE(drawn.setSendFileName(folder.file("fw.bin")));
    ASSERT_TRUE(drawn.sendFile());
    EXPECT_EQ(drawn.transferStatus(), TransferStatus::complete);
    const std::string text = areaText();
    EXPECT_NE(text.find("Sent fw.bin"), std::string::npos) << text;
    EXPECT_NE(text.find("Block 2 of 2, 200 of 200 bytes; 100%"), std::string::npos) << text;
    EXPECT_NE(text.find("Complete"), std::string::npos) << text;
    // Window messages flow while the file is sent.
    EXPECT_GT(pumps, 0);

    ASSERT_TRUE(drawn.setPortOpen(false));
    EXPECT_EQ(areaText().rfind("COM3 closed; Sent fw.bin", 0), 0u) << areaText();
}

TEST_F(DrawnControlTest, ClosingThePortFromTheWindowDuringATransferStopsIt) {
    ASSERT_TRUE(drawn.setCommPort(3));
    ASSERT_TRUE(drawn.setPortOpen(true));
    ASSERT_TRUE(drawn.setSendFileName(folder.file("fw.bin")));
    // What the shut-down sequence does when Exit is clicked during the transfer.
    onPump = [&] {
        if (pumps == 2) drawn.setPortOpen(false);
    };
    EXPECT_FALSE(drawn.sendFile());
    EXPECT_NE(drawn.transferStatus(), TransferStatus::complete);
    EXPECT_EQ(drawn.portOpen(), false);
    EXPECT_EQ(areaText().find("Complete"), std::string::npos) << areaText();
}

TEST(TransferAreaTest, PercentOfTheImageAcknowledged) {
    TransferReport r;
    r.progress.bytesTotal = 1000;
    r.progress.bytesAcked = 384;
    EXPECT_EQ(win32::transferPercent(r), 38);
    r.progress.bytesAcked = 5000; // never above 100
    EXPECT_EQ(win32::transferPercent(r), 100);
    // An empty image is done once the transfer completed.
    TransferReport empty;
    empty.running = true;
    EXPECT_EQ(win32::transferPercent(empty), 0);
    empty.running = false;
    empty.status = TransferStatus::complete;
    EXPECT_EQ(win32::transferPercent(empty), 100);
    empty.status = TransferStatus::timedOut;
    EXPECT_EQ(win32::transferPercent(empty), 0);
}

} // namespace
} // namespace qz::test
