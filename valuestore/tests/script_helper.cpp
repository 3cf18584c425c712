// valuestore_script_helper: what the script tests cannot do in the script hosts of the test machines
// (no WScript.Sleep, no ChrW, no way to hold a file or to see a message box):
//
//   boxes LOG STOP           answer every warning box of the control ("Valtrove Object Error") that
//                            the program that started the helper shows: read it through the window
//                            tree, append "title<TAB>text<TAB>[icon ]OK[ Cancel]" to LOG, press OK;
//                            until the file STOP exists
//   hold FILE none|read READY RELEASE
//                            open FILE sharing nothing, or sharing read and write but not delete (so
//                            the file cannot be replaced); create READY; keep it open until the file
//                            RELEASE exists
//
// boxes and hold also end when the program that started them has ended (a script that stopped early).
//   wait-for FILE MS         wait until FILE exists (exit 2 after MS milliseconds)
//   sleep MS
//   utf16 FILE LINE...       write FILE as UTF-16 text (little-endian, no byte order mark), one
//                            line per LINE: code points in hex, separated by commas ("4E00,41")
//
// Exit status 0 on success, 1 on a failure, 2 on a time-out or a usage error.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win32/handles.h"
#include "valuestore/tests/support/warning_box.h"

namespace {

using qz::win32::UniqueFile;
using qz::win32::UniqueHandle;

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool create(const char* path) {
    return UniqueFile(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
        .valid();
}

bool append(const char* path, const std::string& bytes) {
    const UniqueFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ansi(const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

DWORD parentProcessId() {
    const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    return parent;
}

// Whether the program that started the helper still runs.
bool parentRunning() {
    static const UniqueHandle parent(OpenProcess(SYNCHRONIZE, FALSE, parentProcessId()));
    return parent && WaitForSingleObject(parent.get(), 0) == WAIT_TIMEOUT;
}

int boxes(const char* log, const char* stop) {
    bool failed = false;
    {
        vtc::test::WarningBoxAnswerer answerer(parentProcessId(), [&](const vtc::test::SeenBox& box) {
            failed |= !append(log, ansi(box.line()) + "\r\n");
        });
        while (!exists(stop) && parentRunning()) Sleep(20);
    }
    return failed ? 1 : 0;
}

int hold(const char* path, const std::string& share, const char* ready, const char* release) {
    const DWORD mode = share == "read" ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    UniqueFile file(CreateFileA(path, GENERIC_READ, mode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", path, GetLastError());
        return 1;
    }
    const bool announced = create(ready);
    while (!exists(release) && parentRunning()) Sleep(20);
    file.close();
    return announced ? 0 : 1;
}

int waitFor(const char* path, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!exists(path)) {
        if (GetTickCount64() > deadline) return 2;
        Sleep(20);
    }
    return 0;
}

int utf16(const char* path, int count, char** lines) {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        for (const char* at = lines[i]; *at;) {
            char* end = nullptr;
            const unsigned long point = std::strtoul(at, &end, 16);
            if (end == at || point > 0xFFFF) return 2;
            text += static_cast<wchar_t>(point);
            at = *end == ',' ? end + 1 : end;
        }
        text += L"\r\n";
    }
    const UniqueFile file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "boxes" && argc == 4) return boxes(argv[2], argv[3]);
    if (command == "hold" && argc == 6) return hold(argv[2], argv[3], argv[4], argv[5]);
    if (command == "wait-for" && argc == 4) return waitFor(argv[2], static_cast<DWORD>(std::atol(argv[3])));
    if (command == "sleep" && argc == 3) {
        Sleep(static_cast<DWORD>(std::atol(argv[2])));
        return 0;
    }
    if (command == "utf16" && argc >= 3) return utf16(argv[2], argc - 3, argv + 3);
    std::fputs("usage: valuestore_script_helper boxes|hold|wait-for|sleep|utf16 ... (see the source)\n", stderr);
    return 2;
}
