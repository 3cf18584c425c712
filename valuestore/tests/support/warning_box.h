// Answers the control's ambiguity warning as a user would, from outside the control: finds each
// message box titled "Valtrove Object Error" on the desktop (of this process or another one), reads
// its text, icon and buttons through the window tree, and presses OK. Used by the control's tests
// and by the script tests' helper program.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vtc::test {

struct SeenBox {
    std::wstring title;
    std::wstring text;
    bool icon = false;            // an icon static shows an icon
    bool exclamationIcon = false; // it is the system's exclamation icon (seen only from the box's own
                                  // process: icon handles are not shared between processes everywhere)
    bool okButton = false;
    bool cancelButton = false;
    // "title<TAB>text<TAB>[icon ]OK[ Cancel]"
    std::wstring line() const {
        return title + L"\t" + text + L"\t" + (icon ? L"icon " : L"") + (okButton ? L"OK" : L"") +
               (cancelButton ? L" Cancel" : L"");
    }
};

namespace detail {
struct IconSearch {
    HICON exclamation;
    bool icon = false;
    bool exclamationIcon = false;
};
inline BOOL CALLBACK findIcon(HWND child, LPARAM data) {
    auto* search = reinterpret_cast<IconSearch*>(data);
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child)) return TRUE;
    const auto shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    search->icon |= shown != nullptr;
    search->exclamationIcon |= shown != nullptr && shown == search->exclamation;
    return TRUE;
}
} // namespace detail

// Reads the box once it is shown (its texts are set by then).
inline SeenBox readBox(HWND box) {
    for (int i = 0; i < 250 && !IsWindowVisible(box); ++i) Sleep(20);
    SeenBox seen;
    wchar_t buffer[512] = {};
    GetWindowTextW(box, buffer, 512);
    seen.title = buffer;
    buffer[0] = 0;
    GetDlgItemTextW(box, 0xFFFF, buffer, 512); // the message text's static
    seen.text = buffer;
    detail::IconSearch iconSearch{LoadIconW(nullptr, MAKEINTRESOURCEW(32515) /* IDI_EXCLAMATION */)};
    EnumChildWindows(box, detail::findIcon, reinterpret_cast<LPARAM>(&iconSearch));
    seen.icon = iconSearch.icon;
    seen.exclamationIcon = iconSearch.exclamationIcon;
    seen.okButton = GetDlgItem(box, IDOK) != nullptr;
    const HWND cancel = GetDlgItem(box, IDCANCEL);
    seen.cancelButton = cancel != nullptr && IsWindowVisible(cancel);
    return seen;
}

// Presses the box's OK button; returns once the box is gone (or after five seconds).
inline void pressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
}

namespace detail {
struct BoxSearch {
    DWORD processId;
    HWND found = nullptr;
};
inline BOOL CALLBACK findBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {}, title[64] = {};
    if (owner != search->processId || !GetClassNameW(window, className, 16) || std::wstring(className) != L"#32770")
        return TRUE;
    GetWindowTextW(window, title, 64);
    if (std::wstring(title) != L"Valtrove Object Error") return TRUE;
    search->found = window;
    return FALSE;
}
} // namespace detail

// The warning box shown by a thread of the process, if any. (Tests that run side by side share one
// desktop: each answers only its own process's boxes.)
inline HWND findWarningBox(DWORD processId) {
    detail::BoxSearch search{processId};
    EnumWindows(detail::findBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// While it lives, a thread answers every warning box of the process that comes up and keeps what it
// saw. `onBox`, when given, is called (on that thread) with each box before OK is pressed.
class WarningBoxAnswerer {
public:
    explicit WarningBoxAnswerer(DWORD processId = GetCurrentProcessId(), std::function<void(const SeenBox&)> onBox = {})
        : processId_(processId), onBox_(std::move(onBox)), thread_([this] { run(); }) {}
    WarningBoxAnswerer(const WarningBoxAnswerer&) = delete;
    WarningBoxAnswerer& operator=(const WarningBoxAnswerer&) = delete;
    ~WarningBoxAnswerer() {
        stop_ = true;
        thread_.join();
    }

    std::vector<SeenBox> seen() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void run() {
        while (!stop_) {
            if (HWND box = findWarningBox(processId_)) {
                const SeenBox seen = readBox(box);
                if (onBox_) onBox_(seen);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    seen_.push_back(seen);
                }
                pressOk(box);
            } else {
                Sleep(20);
            }
        }
    }

    DWORD processId_;
    std::function<void(const SeenBox&)> onBox_;
    mutable std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace vtc::test
