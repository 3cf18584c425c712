// The shared Windows helpers: owners release exactly once and hand over on a move, a selection is
// undone, the exact conversion refuses what the code page cannot hold, and a window's messages
// reach its object from creation to its last one, and no further.
#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "common/win32/window.h"

#include <gtest/gtest.h>

#include <vector>

namespace qz::win32 {
namespace {

bool isOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(Win32Owners, ReleaseOnceAndHandOverOnMove) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle first(raw);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), raw);
        UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));

    UniqueHandle closed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    raw = closed.get();
    EXPECT_TRUE(closed.close());
    EXPECT_FALSE(closed.valid());
    EXPECT_FALSE(isOpen(raw));

    // What CreateFile gives on failure owns nothing.
    UniqueFile missing(
        CreateFileW(L"C:\\no such folder\\no such file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_TRUE(missing.close());
}

TEST(Win32Owners, SelectedObjectIsSelectedBack) {
    UniqueDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    const HGDIOBJ original = GetCurrentObject(dc.get(), OBJ_FONT);
    UniqueFont font(CreateFontW(20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
    ASSERT_TRUE(font);
    {
        SelectedObject selected(dc.get(), font.get());
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), font.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), original);
}

// A character is taken exactly when the plain conversion gives it back unchanged; otherwise it was
// folded to a look-alike or replaced by the default character, and the exact conversion refuses.
TEST(Win32Text, ExactConversionRefusesWhatTheCodePageCannotHold) {
    for (const std::wstring text : {L"plain text 123", L"caf\u00e9", L"\u0101", L"\u4e00", L"\uff33", L"\U0001F600"}) {
        const bool holds = widen(narrow(text)) == text;
        std::string exact = "stale";
        EXPECT_EQ(narrowExact(text, exact), holds) << "code page " << GetACP() << ", U+" << std::hex << int(text[0]);
        if (holds) {
            EXPECT_EQ(exact, narrow(text));
        }
    }
    std::string empty = "stale";
    EXPECT_TRUE(narrowExact(L"", empty));
    EXPECT_EQ(empty, "");
}

// Notes the messages that reach it; WM_APP answers 42 plus its wParam.
class ProbeWindow final : public Window<ProbeWindow> {
public:
    bool create() {
        WNDCLASSEXW windowClass{};
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QzWindowProbe";
        // A second registration of the class counts as done.
        return registerClass(windowClass) && registerClass(windowClass) &&
               createWindow(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                            windowClass.hInstance);
    }
    std::vector<UINT> seen;
    HWND windowAtCreate = nullptr;
    int finalMessages = 0;

private:
    friend class Window<ProbeWindow>;
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        seen.push_back(message);
        if (message == WM_CREATE) windowAtCreate = hwnd();
        if (message == WM_APP) return 42 + static_cast<LRESULT>(wParam);
        return defaultHandling(message, wParam, lParam);
    }
    void onFinalMessage() noexcept { ++finalMessages; }
};

TEST(Win32Window, MessagesReachTheObjectFromCreationToTheLastOne) {
    ProbeWindow probe;
    ASSERT_TRUE(probe.create());
    const HWND window = probe.hwnd();
    ASSERT_NE(window, nullptr);
    // What comes before WM_NCCREATE (WM_GETMINMAXINFO) has no object yet.
    EXPECT_EQ(probe.seen.front(), static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(probe.windowAtCreate, window);
    EXPECT_EQ(SendMessageW(window, WM_APP, 1, 0), 43);

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(probe.seen.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_EQ(probe.hwnd(), nullptr);
    EXPECT_EQ(probe.finalMessages, 1);

    // A window that outlives its object gets the default handling.
    HWND orphan = nullptr;
    {
        ProbeWindow early;
        ASSERT_TRUE(early.create());
        orphan = early.hwnd();
    }
    EXPECT_EQ(SendMessageW(orphan, WM_APP, 1, 0), 0);
    EXPECT_TRUE(DestroyWindow(orphan));
}

} // namespace
} // namespace qz::win32
