#pragma once
// Text between the system's ANSI code page, in which the updater's logic and the value store keep
// their texts, and UTF-16, which windows and automation use.

#include <windows.h>

#include <string>
#include <string_view>

namespace qz::win32 {

inline std::wstring widen(std::string_view ansi) {
    if (ansi.empty()) return {};
    const int size = static_cast<int>(ansi.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), n);
    return wide;
}

// Characters the code page lacks become a look-alike or its default character.
inline std::string narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string ansi(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), n, nullptr, nullptr);
    return ansi;
}

// The same, exactly: false when the code page lacks a character of the text (no best-fit
// look-alike, no default character is ever put in its place).
inline bool narrowExact(std::wstring_view wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    const UINT codePage = GetACP();
    // UTF-8 and UTF-7 take neither WC_NO_BEST_FIT_CHARS nor the default-character check; the other
    // code pages that the conversion lists as taking no flags take the check but not the flag.
    // Where the flag is not taken, converting back shows a folded character.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    const bool noFlags = utf || codePage == 42 || (codePage >= 50220 && codePage <= 50229) || codePage == 52936 ||
                         codePage == 54936 || (codePage >= 57002 && codePage <= 57011);
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : noFlags ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultCheck = utf ? nullptr : &usedDefault;
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefaultCheck);
    if (n <= 0 || usedDefault) return false;
    ansi.resize(static_cast<std::size_t>(n));
    if (WideCharToMultiByte(codePage, flags, wide.data(), size, ansi.data(), n, nullptr, usedDefaultCheck) != n ||
        usedDefault)
        return false;
    return !noFlags || widen(ansi) == wide;
}

} // namespace qz::win32
