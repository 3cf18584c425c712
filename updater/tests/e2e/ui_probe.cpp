// ui_probe: looks at and drives the updater's window from outside, as a user or an assistive
// tool would, for the end-to-end tests. It finds windows by process id, class and caption,
// reads them with window messages and clicks by posting the messages a click produces.
//
//   ui_probe start PROGRAM               start PROGRAM (Windows or Unix path) in its own folder;
//                                        prints its process id
//   ui_probe msgbox PID TIMEOUT_MS [ok|cancel]
//                                        wait for a message box of PID; print its title and
//                                        text; press the button if one is named
//   ui_probe dump PID TIMEOUT_MS         wait until the main window is visible; print its state
//   ui_probe filedialog PID TIMEOUT_MS PATH|+|-
//                                        wait for the open-file dialog of PID; print its title,
//                                        filter and the name it shows; type PATH and press Open,
//                                        press Open on the name shown for "+", Cancel for "-"
//   ui_probe upload PID TIMEOUT_MS [STATUS_PREFIX]
//                                        click UpLoad and watch: print every status text seen,
//                                        until a message box comes up (its title and text are
//                                        printed, it stays open), the status is back at
//                                        "Status: Idle", or it begins with STATUS_PREFIX
//   ui_probe wait-text PID CONTROL TEXT TIMEOUT_MS
//                                        wait until the control's text is TEXT
//   ui_probe click PID Browse|UpLoad|Exit [TIMEOUT_MS]
//                                        click the button; with a time-out, wait for the
//                                        process to end and print its exit code
//   ui_probe key PID tab|alt+LETTER|LETTER [TIMEOUT_MS]
//                                        the key as the keyboard gives it to the focused control;
//                                        with a time-out, waits as click does
//   ui_probe select PID INDEX            pick item INDEX of the port list
//   ui_probe settext PID FileText|ComPortSet TEXT
//   ui_probe close PID [TIMEOUT_MS]      the close box; waits as click does
//   ui_probe restore PID                 a minimised or maximised window restored, as by a
//                                        click on its task bar button
//   ui_probe wait-exit PID TIMEOUT_MS    wait for the process to end; print its exit code
//
// Output lines are "name=value", UTF-8, the last one "probe_exit=STATUS". The exit status is 0
// on success, 2 on a time-out, 1 on any other failure.

#include "common/win32/handles.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kMainClass = L"VelkorUpdater";
constexpr const wchar_t* kAreaClass = L"QzTransferArea";

using qz::win32::UniqueFile;
using qz::win32::UniqueHandle;

std::string utf8(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, bytes.data(), n, nullptr, nullptr);
    return bytes;
}

void print(const std::wstring& name, const std::wstring& value) {
    const std::string line = utf8(name + L"=" + value + L"\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

int fail(const wchar_t* what) {
    std::fwprintf(stderr, L"ui_probe: %ls\n", what);
    return 1;
}

std::wstring className(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// Text of a window in another process (the system carries WM_GETTEXT across). The program may
// be slow to answer on a loaded machine; it is not given up as hung.
std::wstring textOf(HWND hwnd) {
    // One message per read, so that a text changing between two messages cannot be mixed up.
    constexpr UINT kWaitMs = 20000;
    std::wstring text(8192, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kWaitMs,
                             &copied)) {
        return L"(no answer)";
    }
    text.resize(copied);
    return text;
}

DWORD processOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

struct TopSearch {
    DWORD pid;
    const wchar_t* cls;
    std::vector<HWND> found;
};

BOOL CALLBACK visitTop(HWND hwnd, LPARAM data) {
    auto* s = reinterpret_cast<TopSearch*>(data);
    if (processOf(hwnd) == s->pid && className(hwnd) == s->cls) s->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> topWindows(DWORD pid, const wchar_t* cls) {
    TopSearch search{pid, cls, {}};
    EnumWindows(&visitTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) found.push_back(c);
    return found;
}

HWND visibleMessageBox(DWORD pid) {
    for (HWND w : topWindows(pid, L"#32770")) {
        if (IsWindowVisible(w)) return w;
    }
    return nullptr;
}

HWND mainWindow(DWORD pid) {
    const auto found = topWindows(pid, kMainClass);
    return found.empty() ? nullptr : found.front();
}

template <typename Found>
auto waitFor(DWORD timeoutMs, Found found) -> decltype(found()) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (auto r = found()) return r;
        if (GetTickCount64() >= end) return {};
        Sleep(50);
    }
}

// A control of the main window, found as a tool would: by class and caption.
struct Named {
    const wchar_t* name;
    const wchar_t* cls;
    const wchar_t* caption; // exact caption; nullptr: any, or a prefix for the status label
    bool prefix;
};

constexpr Named kControls[] = {
    {L"Browse", L"Button", L"&Browse", false},
    {L"UpLoad", L"Button", L"&Wait For Controller Then Upload", false},
    {L"Exit", L"Button", L"E&xit", false},
    {L"FileText", L"Edit", nullptr, false},
    {L"ComPortSet", L"ComboBox", nullptr, false},
    {L"Status", L"Static", L"Status:", true},
    {L"Label1", L"Static", L"Com Port", false},
    {L"Frame1", L"Button", L"Com Port", false},
    {L"Frame2", L"Button", L"File To Upload", false},
    {L"BravlinkCRC2", kAreaClass, nullptr, false},
};

bool matches(HWND hwnd, const Named& n) {
    if (_wcsicmp(className(hwnd).c_str(), n.cls) != 0) return false;
    if (!n.caption) return true;
    const std::wstring text = textOf(hwnd);
    if (n.prefix) return text.rfind(n.caption, 0) == 0;
    if (text != n.caption) return false;
    // Frames and push buttons share the Button class.
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    const bool isFrame = style == BS_GROUPBOX;
    return isFrame == (std::wcsncmp(n.name, L"Frame", 5) == 0);
}

HWND findControl(HWND main, const wchar_t* name) {
    for (const Named& n : kControls) {
        if (std::wcscmp(n.name, name) != 0) continue;
        for (HWND c : children(main)) {
            if (matches(c, n)) return c;
        }
    }
    return nullptr;
}

std::wstring nameOf(HWND main, HWND hwnd) {
    // A window inside a control (the edit field of the combo box) counts as the control.
    while (hwnd && GetParent(hwnd) && GetParent(hwnd) != main) hwnd = GetParent(hwnd);
    for (const Named& n : kControls) {
        if (findControl(main, n.name) == hwnd) return n.name;
    }
    return hwnd ? L"?" + className(hwnd) : L"";
}

std::wstring rectText(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," +
           std::to_wstring(r.bottom);
}

// Where a child lies in its parent's client area, in pixels.
RECT placeOf(HWND main, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int start(const std::wstring& program) {
    std::wstring path = program;
    if (!path.empty() && path[0] == L'/') {
        // A Unix path: ask Wine for the Windows name of the file.
        using DosName = WCHAR* (*)(const char*);
        const auto dosName = reinterpret_cast<DosName>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name")));
        if (!dosName) return fail(L"Unix path outside Wine");
        WCHAR* dos = dosName(utf8(program).c_str());
        if (!dos) return fail(L"no Windows name for the program");
        path = dos;
        HeapFree(GetProcessHeap(), 0, dos);
    }
    const auto slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    std::wstring commandLine = L"\"" + path + L"\"";
    // The program gets the null device as its standard handles, not our output: whoever reads
    // the probe's output must see it end when the probe ends.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const UniqueFile null(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = null.get();
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                        folder.c_str(), &si, &pi))
        return fail(L"cannot start the program");
    const UniqueHandle thread(pi.hThread);
    const UniqueHandle process(pi.hProcess);
    print(L"pid", std::to_wstring(pi.dwProcessId));
    print(L"path", path);
    return 0;
}

int messageBox(DWORD pid, DWORD timeoutMs, const std::wstring& press) {
    HWND box = waitFor(timeoutMs, [&] { return visibleMessageBox(pid); });
    if (!box) return 2;
    // Let the box finish laying itself out before its texts are read.
    Sleep(100);
    print(L"title", textOf(box));
    std::wstring text;
    for (HWND c : children(box)) {
        if (_wcsicmp(className(c).c_str(), L"Static") == 0 && !textOf(c).empty()) text = textOf(c);
    }
    print(L"text", text);
    HWND main = mainWindow(pid);
    print(L"main_visible", main && IsWindowVisible(main) ? L"1" : L"0");
    std::wstring buttons;
    for (HWND c : children(box)) {
        if (_wcsicmp(className(c).c_str(), L"Button") == 0 && IsWindowVisible(c)) {
            buttons += (buttons.empty() ? L"" : L"|") + textOf(c);
        }
    }
    print(L"buttons", buttons);
    if (press.empty()) return 0;
    const int id = press == L"ok" ? IDOK : press == L"cancel" ? IDCANCEL : 0;
    HWND button = GetDlgItem(box, id);
    if (!id || !button) return fail(L"no such button in the message box");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    const bool closed = waitFor(timeoutMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return closed ? 0 : 2;
}

// The keyboard reaches the active window only; other programs of the session (tests running
// alongside) may have taken the activation. Makes `main` the foreground window, as a user
// clicking on it would, and returns the focus the program then gives.
HWND activeFocus(HWND main) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    const auto focus = [&] {
        return GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui) ? gui.hwndFocus : nullptr;
    };
    // While a message box of the program is up, it has the keyboard: nothing is changed.
    if (GetForegroundWindow() == main || visibleMessageBox(processOf(main))) return focus();
    SetForegroundWindow(main);
    waitFor(5000, [&] { return GetForegroundWindow() == main; });
    return waitFor(5000, focus);
}

// The main window of PID once it is visible and the program waits for input; nullptr when the
// time runs out first.
HWND shownMainWindow(DWORD pid, DWORD timeoutMs) {
    HWND main = waitFor(timeoutMs, [&] {
        HWND w = mainWindow(pid);
        return w && IsWindowVisible(w) ? w : nullptr;
    });
    // The window shows before the program's message loop runs: wait until it waits for input.
    if (const UniqueHandle process{main ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : nullptr})
        WaitForInputIdle(process.get(), timeoutMs);
    return main;
}

void printWindow(DWORD pid, HWND main) {
    print(L"title", textOf(main));
    RECT r{};
    GetWindowRect(main, &r);
    print(L"window", rectText(r));
    GetClientRect(main, &r);
    print(L"client", std::to_wstring(r.right) + L"x" + std::to_wstring(r.bottom));
    print(L"zoomed", IsZoomed(main) ? L"1" : L"0");
    print(L"iconic", IsIconic(main) ? L"1" : L"0");
    const int sx = GetSystemMetrics(SM_XVIRTUALSCREEN), sy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    print(L"screen",
          rectText(RECT{sx, sy, sx + GetSystemMetrics(SM_CXVIRTUALSCREEN), sy + GetSystemMetrics(SM_CYVIRTUALSCREEN)}));
    print(L"message_box", visibleMessageBox(pid) ? L"1" : L"0");
}

void printControls(HWND main) {
    for (const Named& n : kControls) {
        HWND c = findControl(main, n.name);
        const std::wstring name = n.name;
        if (!c) {
            print(name, L"(missing)");
            continue;
        }
        print(name + L".text", textOf(c));
        print(name + L".place", rectText(placeOf(main, c)));
        print(name + L".enabled", IsWindowEnabled(c) ? L"1" : L"0");
        print(name + L".visible", IsWindowVisible(c) ? L"1" : L"0");
        print(name + L".tabstop", (GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) ? L"1" : L"0");
    }
}

void printPortList(HWND combo) {
    const auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    std::wstring items;
    for (LRESULT i = 0; i < count; ++i) {
        const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring item(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(length > 0 ? length : 0));
        items += (i ? L"|" : L"") + item;
    }
    print(L"ComPortSet.items", items);
    print(L"ComPortSet.selected", std::to_wstring(SendMessageW(combo, CB_GETCURSEL, 0, 0)));
}

// The tab stops in the order the dialog keyboard walks them.
void printTabOrder(HWND main) {
    std::wstring order;
    HWND first = GetNextDlgTabItem(main, nullptr, FALSE);
    for (HWND c = first; c;) {
        order += (order.empty() ? L"" : L"|") + nameOf(main, c);
        c = GetNextDlgTabItem(main, c, FALSE);
        if (c == first) break;
    }
    print(L"tab_order", order);
}

int dump(DWORD pid, DWORD timeoutMs) {
    HWND main = shownMainWindow(pid, timeoutMs);
    if (!main) return 2;
    printWindow(pid, main);
    printControls(main);
    if (HWND combo = findControl(main, L"ComPortSet")) printPortList(combo);
    printTabOrder(main);
    print(L"focus", nameOf(main, activeFocus(main)));
    return 0;
}

int waitText(DWORD pid, const std::wstring& name, const std::wstring& text, DWORD timeoutMs) {
    HWND main = mainWindow(pid);
    HWND c = main ? findControl(main, name.c_str()) : nullptr;
    if (!c) return fail(L"no such control");
    std::wstring now;
    const bool seen = waitFor(timeoutMs, [&] { return (now = textOf(c)) == text; });
    print(L"text", now);
    return seen ? 0 : 2;
}

// Opened before a click that ends the program, so that its end and exit code can be seen.
UniqueHandle openProcess(DWORD pid) {
    return UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

int waitExit(const UniqueHandle& process, DWORD timeoutMs) {
    if (!process) return fail(L"no such process");
    const DWORD r = WaitForSingleObject(process.get(), timeoutMs);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    if (r != WAIT_OBJECT_0) return 2;
    print(L"exit_code", std::to_wstring(code));
    return 0;
}

// Posts the message; with a time-out, waits for the program to end and prints its exit code.
int postAndWait(DWORD pid, HWND to, UINT message, WPARAM wParam, LPARAM lParam, int argc, wchar_t** argv, int at) {
    const UniqueHandle process = argc > at ? openProcess(pid) : UniqueHandle();
    PostMessageW(to, message, wParam, lParam);
    if (argc <= at) return 0;
    return waitExit(process, static_cast<DWORD>(std::wcstoul(argv[at], nullptr, 10)));
}

// The open-file dialog: a dialog box of PID that holds the file-name box.
HWND fileDialog(DWORD pid) {
    for (HWND w : topWindows(pid, L"#32770")) {
        if (IsWindowVisible(w) && IsWindowEnabled(w) && (GetDlgItem(w, 0x47c) || GetDlgItem(w, 0x480))) return w;
    }
    return nullptr;
}

int fileDialogCommand(DWORD pid, DWORD timeoutMs, const std::wstring& path) {
    HWND dialog = waitFor(timeoutMs, [&] { return fileDialog(pid); });
    if (!dialog) return 2;
    Sleep(300); // let it fill its folder view and name box
    HWND name = GetDlgItem(dialog, 0x47c) ? GetDlgItem(dialog, 0x47c) : GetDlgItem(dialog, 0x480);
    print(L"title", textOf(dialog));
    print(L"filter", textOf(GetDlgItem(dialog, 0x470)));
    print(L"preset", textOf(name));
    int button = IDCANCEL;
    if (path != L"-") {
        if (path != L"+") SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        button = IDOK;
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    const bool closed = waitFor(timeoutMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
    return closed ? 0 : 2;
}

int upload(DWORD pid, DWORD timeoutMs, const std::wstring& stopAt) {
    HWND main = mainWindow(pid);
    HWND button = main ? findControl(main, L"UpLoad") : nullptr;
    HWND status = main ? findControl(main, L"Status") : nullptr;
    if (!button || !status) return fail(L"no window");
    // The status before the click: read first, since the program answers only when it pumps.
    std::wstring last = textOf(status);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
    std::wstring seen;
    bool left = false; // the status has left "Status: Idle"
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG end = start + timeoutMs;
    while (GetTickCount64() < end) {
        if (HWND box = visibleMessageBox(pid)) {
            const ULONGLONG seenAfter = GetTickCount64() - start;
            Sleep(100); // the box's text may still be on its way
            print(L"statuses", seen);
            print(L"box_title", textOf(box));
            std::wstring text;
            for (HWND c : children(box)) {
                if (_wcsicmp(className(c).c_str(), L"Static") == 0 && !textOf(c).empty()) text = textOf(c);
            }
            print(L"box_text", text);
            print(L"box_after_ms", std::to_wstring(seenAfter));
            return 0;
        }
        const std::wstring now = textOf(status);
        if (now != last) {
            seen += (seen.empty() ? L"" : L"|") + now;
            last = now;
        }
        if (now != L"Status: Idle") left = true;
        if ((!stopAt.empty() && now.rfind(stopAt, 0) == 0) || (left && now == L"Status: Idle")) {
            print(L"statuses", seen);
            print(L"box_title", L"");
            return 0;
        }
        Sleep(10);
    }
    print(L"statuses", seen);
    return 2;
}

int click(DWORD pid, const std::wstring& name, int argc, wchar_t** argv) {
    HWND main = mainWindow(pid);
    HWND button = main ? findControl(main, name.c_str()) : nullptr;
    if (!button) return fail(L"no such button");
    return postAndWait(pid, main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button), argc, argv, 4);
}

int key(DWORD pid, const std::wstring& name, int argc, wchar_t** argv) {
    HWND main = mainWindow(pid);
    if (!main) return fail(L"no window");
    HWND focus = activeFocus(main);
    HWND target = focus ? focus : main;
    if (name == L"tab") {
        PostMessageW(target, WM_KEYDOWN, VK_TAB, 0x000F0001);
        PostMessageW(target, WM_KEYUP, VK_TAB, static_cast<LPARAM>(0xC00F0001u));
        return 0;
    }
    if (name.size() == 5 && name.rfind(L"alt+", 0) == 0) {
        // What TranslateMessage makes of Alt held with a letter: the character, context bit set.
        return postAndWait(pid, target, WM_SYSCHAR, towlower(name[4]), static_cast<LPARAM>(0x20000001u), argc, argv, 4);
    }
    if (name.size() == 1 && iswalpha(name[0])) {
        // A letter typed alone: the character TranslateMessage makes of it.
        return postAndWait(pid, target, WM_CHAR, towlower(name[0]), 1, argc, argv, 4);
    }
    return fail(L"unknown key");
}

int select(DWORD pid, int index) {
    HWND main = mainWindow(pid);
    HWND combo = main ? findControl(main, L"ComPortSet") : nullptr;
    if (!combo) return fail(L"no port list");
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // What the combo box tells its parent when the user picks an item.
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return 0;
}

int setText(DWORD pid, const std::wstring& name, const std::wstring& text) {
    HWND main = mainWindow(pid);
    HWND c = main ? findControl(main, name.c_str()) : nullptr;
    if (!c) return fail(L"no such control");
    SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return 0;
}

} // namespace

static int run(int argc, wchar_t** argv) {
    if (argc < 3) return fail(L"usage: ui_probe start|msgbox|dump|click|select|settext|close|wait-exit ...");
    const std::wstring command = argv[1];
    if (command == L"start") return start(argv[2]);
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    const auto number = [&](int i) {
        return argc > i ? static_cast<DWORD>(std::wcstoul(argv[i], nullptr, 10)) : 10000u;
    };
    if (command == L"msgbox") return messageBox(pid, number(3), argc > 4 ? argv[4] : L"");
    if (command == L"dump") return dump(pid, number(3));
    if (command == L"filedialog" && argc > 4) return fileDialogCommand(pid, number(3), argv[4]);
    if (command == L"upload") return upload(pid, number(3), argc > 4 ? argv[4] : L"");
    if (command == L"wait-text" && argc > 5) return waitText(pid, argv[3], argv[4], number(5));
    if (command == L"click" && argc > 3) return click(pid, argv[3], argc, argv);
    if (command == L"key" && argc > 3) return key(pid, argv[3], argc, argv);
    if (command == L"select" && argc > 3) return select(pid, static_cast<int>(number(3)));
    if (command == L"settext" && argc > 4) return setText(pid, argv[3], argv[4]);
    if (command == L"close") {
        HWND main = mainWindow(pid);
        if (!main) return fail(L"no window");
        return postAndWait(pid, main, WM_CLOSE, 0, 0, argc, argv, 3);
    }
    if (command == L"restore") {
        HWND main = mainWindow(pid);
        if (!main) return fail(L"no window");
        PostMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
        return 0;
    }
    if (command == L"wait-exit") return waitExit(openProcess(pid), number(3));
    return fail(L"unknown command");
}

// The last line, "probe_exit=STATUS", tells the caller that the probe ran: a program that never
// started (a 32-bit program under a Wine without its 32-bit side) prints nothing and exits 0.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const int status = run(argc, argv);
    print(L"probe_exit", std::to_wstring(status));
    std::fflush(stdout);
    return status;
}
