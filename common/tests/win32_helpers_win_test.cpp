// The shared Windows helpers: owners release exactly once and hand over on a move, a selection is
// undone, and the exact conversion refuses what the code page cannot hold.
#include "common/win32/handles.h"
#include "common/win32/text.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace qz::win32
