#include "updater/win32/win32_program_facts.h"

#include "common/win32/module_path.h"
#include "common/win32/text.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <vector>

namespace qz::win32 {

std::optional<VersionResource> readVersionResource(const std::wstring& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::vector<std::uint8_t> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;

    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != VS_FFI_SIGNATURE) return std::nullopt;

    VersionResource result;
    result.major = HIWORD(fixed->dwFileVersionMS);
    result.minor = LOWORD(fixed->dwFileVersionMS);
    result.revision = HIWORD(fixed->dwFileVersionLS);

    // ProductName in the first language and code page listed under VarFileInfo\Translation.
    struct Translation {
        WORD language;
        WORD codePage;
    };
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= sizeof(Translation)) {
        const auto* t = static_cast<const Translation*>(value);
        wchar_t key[64];
        std::swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\ProductName", t->language, t->codePage);
        if (VerQueryValueW(block.data(), key, &value, &length) && length > 0) {
            result.productName = narrow(static_cast<const wchar_t*>(value));
        }
    }
    return result;
}

std::wstring programPath() { return modulePath(nullptr); }

ProgramFacts currentProgramFacts() {
    ProgramFacts facts;
    const std::wstring path = programPath();
    const auto slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        facts.folder = narrow(path.substr(0, slash));
        facts.folderPath = path.substr(0, slash);
    }
    if (const auto version = readVersionResource(path)) {
        facts.versionMajor = version->major;
        facts.versionMinor = version->minor;
        facts.versionRevision = version->revision;
        if (!version->productName.empty()) facts.applicationTitle = version->productName;
    }
    return facts;
}

} // namespace qz::win32
