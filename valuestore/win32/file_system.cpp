// vs::FileSystem on Windows: ANSI paths, whole-file reads, saves through a temporary file in the same
// folder, flushed and put in the place of the data file with ReplaceFileW (which keeps the file's
// attributes and access rights), or moved there when there is no file yet. Device names are never
// opened. The lead bytes are those of the ANSI code page.
#include <windows.h>

#include <atomic>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "valuestore/core/file_system.h"

namespace vs {
namespace {

using qz::win32::narrow;
using qz::win32::UniqueFile;
using qz::win32::widen;

// How long a save waits for a file that another process holds for a moment (a virus scanner, the
// search indexer, a backup tool), and the pause between two tries.
constexpr ULONGLONG kRetryMilliseconds = 1000;
constexpr DWORD kRetryPauseMilliseconds = 50;

int errorNumberOf(DWORD err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND: return error::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE: return error::pathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_UNABLE_TO_REMOVE_REPLACED: return error::permissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return error::diskFull;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY: return error::badFileName;
    default: return error::pathFileAccessError;
    }
}

// The system's text for an error code (in English when the user's language has none).
std::string systemReason(DWORD err) {
    for (const DWORD language : {DWORD{0}, DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}}) {
        char* text = nullptr;
        const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                  FORMAT_MESSAGE_IGNORE_INSERTS,
                                              nullptr, err, language, reinterpret_cast<char*>(&text), 0, nullptr);
        std::string reason(text ? text : "", length);
        ::LocalFree(text);
        while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back()))) reason.pop_back();
        if (!reason.empty()) return reason + " (" + std::to_string(err) + ")";
    }
    return "system error " + std::to_string(err);
}

// The file error for a system error code, naming the path and the system's reason.
[[noreturn]] void fail(DWORD err, const std::string& path) {
    throw fileError(errorNumberOf(err), path, systemReason(err));
}

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// True for a path that names a device rather than a file: a "\\.\" path, or one whose last part, up to
// its first '.' and without trailing spaces (or a trailing ':'), is CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, CONIN$ or CONOUT$, in any case. Windows opens the device for such a name in any folder
// and with any extension, and reading some of them waits for input that never comes.
bool namesDevice(std::string_view path) {
    if (path.size() >= 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        path[2] == '.' && (path[3] == '\\' || path[3] == '/'))
        return true;
    if (!path.empty() && path.back() == ':') path.remove_suffix(1);
    const std::size_t cut = path.find_last_of("\\/:");
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string upper;
    for (const char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
           upper[3] <= '9';
}

// The full path of a file, as the system resolves a relative one from the current folder.
std::wstring fullPath(const std::string& path) {
    const std::wstring wide = widen(path);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) fail(::GetLastError(), path);
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) fail(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE, path);
    full.resize(length);
    return full;
}

// Errors that another process holding the file for a moment gives, and those of a file that appeared
// or vanished between two steps: worth another try.
bool isPassing(DWORD err) {
    switch (err) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
    case ERROR_FILE_NOT_FOUND: return true;
    default: return false;
    }
}

// One try at putting the written temporary file in the place of the target. Returns 0 or the error.
// `targetGone` is set when the old file was taken away but the new one could not take its place.
DWORD putInPlace(const std::wstring& target, const std::wstring& temp, bool& targetGone) {
    // Ask for deletion access first: a file held without sharing deletion cannot be replaced, and
    // ReplaceFileW itself leaves a stray file behind in that case on some systems (Wine).
    UniqueFile probe(::CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND) return err;
        // No file yet (or no longer): move the new one there.
        if (!::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return ::GetLastError();
        targetGone = false;
        return ERROR_SUCCESS;
    }
    probe.reset(); // closed before the file is replaced
    if (::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return ERROR_SUCCESS;
    const DWORD err = ::GetLastError();
    if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT) targetGone = true;
    return err;
}

class Win32FileSystem final : public FileSystem {
public:
    bool namesSingleFile(const std::string& path) override {
        return mayNameSingleFile(path) && !namesDevice(path) && !isFolder(path);
    }

    std::optional<std::string> readFile(const std::string& path) override {
        // Shared for deletion too, so that another process may still replace the file while it is read.
        UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_FILE_NOT_FOUND) return std::nullopt;
            fail(err, path);
        }
        std::string content;
        char buffer[65536];
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) fail(::GetLastError(), path);
            if (read == 0) break;
            content.append(buffer, read);
        }
        return content;
    }

    void replaceFile(const std::string& path, std::string_view content) override {
        // A read-only file is not replaced. Checked first, since some file systems let a rename over it through.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            throw fileError(error::permissionDenied, path, "the file is read-only");
        const std::wstring target = fullPath(path);
        auto [temp, created] = createTemporary(target.substr(0, target.find_last_of(L"\\/") + 1), path);
        bool targetGone = false;
        try {
            // Closed before the temporary file is put in place (below) or removed (on a failure).
            UniqueFile file(std::move(created));
            while (!content.empty()) {
                const DWORD chunk = content.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(content.size());
                DWORD written = 0;
                if (!::WriteFile(file.get(), content.data(), chunk, &written, nullptr)) fail(::GetLastError(), path);
                content.remove_prefix(written);
            }
            if (!::FlushFileBuffers(file.get())) fail(::GetLastError(), path);
            if (!file.close()) fail(::GetLastError(), path);
            const ULONGLONG deadline = ::GetTickCount64() + kRetryMilliseconds;
            for (;;) {
                const DWORD err = putInPlace(target, temp, targetGone);
                if (err == ERROR_SUCCESS) return;
                if (!isPassing(err) || ::GetTickCount64() >= deadline) {
                    if (!targetGone) fail(err, path);
                    // The old file is gone and the new content did not take its place: keep it for the user.
                    throw fileError(errorNumberOf(err), path,
                                    systemReason(err) + "; the new content is in '" + narrow(temp) + "'");
                }
                ::Sleep(kRetryPauseMilliseconds);
            }
        } catch (...) {
            if (!targetGone) ::DeleteFileW(temp.c_str());
            throw;
        }
    }

    void removeFile(const std::string& path) override {
        if (!::DeleteFileA(path.c_str())) fail(::GetLastError(), path);
    }

    const LeadBytes& leadBytes() const override {
        static const LeadBytes table = [] {
            LeadBytes lead{};
            const UINT codePage = ::GetACP();
            for (unsigned b = 0; b < lead.size(); ++b)
                lead[b] = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(b)) != FALSE;
            return lead;
        }();
        return table;
    }

private:
    // Creates an empty, uniquely named file in the folder, open for writing. An error names `path`.
    static std::pair<std::wstring, UniqueFile> createTemporary(const std::wstring& folder, const std::string& path) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0;; ++attempt) {
            const std::wstring temp = folder + L"~valtrove-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                      std::to_wstring(counter.fetch_add(1)) + L".tmp";
            UniqueFile file(
                ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) return {temp, std::move(file)};
            const DWORD err = ::GetLastError();
            if (err == ERROR_FILE_EXISTS && attempt < 100) continue;
            fail(err, path);
        }
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static Win32FileSystem instance;
    return instance;
}

} // namespace vs
