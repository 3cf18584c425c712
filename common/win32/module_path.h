#pragma once
// The file a loaded module came from.

#include <windows.h>

#include <string>

namespace qz::win32 {

// The full path of MODULE (nullptr: the program's own file), however long; empty on failure.
inline std::wstring modulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace qz::win32
