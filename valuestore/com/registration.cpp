// DllRegisterServer / DllUnregisterServer: the class, its ProgID, the in-process server entry,
// the control marks, the toolbox bitmap, the embedded type library and its interfaces, all in
// HKEY_CLASSES_ROOT and naming this library's real path. On a 64-bit system the class and
// interface keys are per registry view (the x86 library's in the 32-bit view); the ProgID and
// type library keys are shared by both libraries. DllInstall with the command line "user"
// (regsvr32 /n /i:user) writes or removes the same keys in the current user's classes,
// HKEY_CURRENT_USER\Software\Classes, type library included, and touches nothing machine-wide.
#include <windows.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "ValtroveCtrl_h.h"
#include "valuestore/com/com_util.h"
#include "valuestore/com/control_facts.h"
#include "valuestore/com/module.h"

namespace vtc {
namespace {

constexpr int kToolboxBitmapId = VTC_TOOLBOX_BITMAP;

// Automation marshallers for dual interfaces and dispinterfaces.
constexpr wchar_t kDualMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// Every key below is relative to classes: HKEY_CLASSES_ROOT for the machine-wide registration,
// the user's Software\Classes for the per-user one.

// Writes a string value (the default value when name is null), creating the key.
LSTATUS setString(HKEY classes, const std::wstring& keyPath, const wchar_t* name, const std::wstring& value) {
    RegKey key;
    LSTATUS status = RegCreateKeyExW(classes, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                     nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS createKey(HKEY classes, const std::wstring& keyPath) {
    RegKey key;
    return RegCreateKeyExW(classes, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                           key.out(), nullptr);
}

// Deletes a key with everything below it; a key that is not there counts as deleted.
LSTATUS deleteTree(HKEY classes, const std::wstring& keyPath) {
    const LSTATUS status = RegDeleteTreeW(classes, keyPath.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        const LSTATUS last = RegDeleteKeyW(classes, keyPath.c_str());
        return last == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : last;
    }
    return status;
}

// Deletes a key only when it has no subkeys left (shared parts of the type library entry).
LSTATUS deleteIfNoSubkeys(HKEY classes, const std::wstring& keyPath) {
    RegKey key;
    LSTATUS status = RegOpenKeyExW(classes, keyPath.c_str(), 0, KEY_READ, key.out());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    DWORD subkeys = 0;
    status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    key = RegKey();
    return subkeys == 0 ? deleteTree(classes, keyPath) : ERROR_SUCCESS;
}

struct TypeLibFacts {
    GUID libid{};
    WORD major = 0;
    WORD minor = 0;
    WORD flags = 0;
    const wchar_t* platform = L"win32";
    // Interfaces that need marshalling entries: IID, name, dispinterface only.
    struct Interface {
        GUID iid;
        std::wstring name;
        bool dispatchOnly;
    };
    std::vector<Interface> interfaces;
};

HRESULT readTypeLib(const std::wstring& path, TypeLibFacts& facts) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.out());
    if (FAILED(hr)) return SELFREG_E_TYPELIB;
    LibraryAttributes attr;
    if (FAILED(attr.load(lib.get()))) return SELFREG_E_TYPELIB;
    facts.libid = attr->guid;
    facts.major = attr->wMajorVerNum;
    facts.minor = attr->wMinorVerNum;
    // What the library declares (FHASDISKIMAGE only says where it was loaded from).
    facts.flags = attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN);
    facts.platform = attr->syskind == SYS_WIN64 ? L"win64" : L"win32";

    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.out()))) return SELFREG_E_TYPELIB;
        TypeAttributes typeAttr;
        if (FAILED(typeAttr.load(info.get()))) return SELFREG_E_TYPELIB;
        const bool dispatch = typeAttr->typekind == TKIND_DISPATCH;
        const bool automation =
            typeAttr->typekind == TKIND_INTERFACE && (typeAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        const GUID iid = typeAttr->guid;
        const bool dual = (typeAttr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
        if (!dispatch && !automation) continue;
        Bstr name;
        if (FAILED(lib->GetDocumentation(static_cast<INT>(i), name.out(), nullptr, nullptr, nullptr)))
            return SELFREG_E_TYPELIB;
        facts.interfaces.push_back({iid, std::wstring(name.view()), dispatch && !dual});
    }
    return S_OK;
}

// Type library versions are keyed in hexadecimal (103.0 is "67.0"), as LoadRegTypeLib reads them.
std::wstring versionText(const TypeLibFacts& facts) {
    wchar_t text[16] = {};
    wsprintfW(text, L"%x.%x", facts.major, facts.minor);
    return text;
}

// Whether the other registry view (the 32-bit one for the x64 library, the 64-bit one for the x86
// library) registers the class too: a 64-bit system holds both libraries side by side. Without
// WOW64 the flag is ignored and this reads the own view.
bool otherViewRegistersClass(HKEY classes, const std::wstring& clsidKey) {
    constexpr REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    RegKey key;
    return RegOpenKeyExW(classes, (clsidKey + L"\\InprocServer32").c_str(), 0, KEY_READ | otherView, key.out()) ==
           ERROR_SUCCESS;
}

// Removes everything registration writes; parts already gone are fine.
HRESULT unregisterAll(HKEY classes, const TypeLibFacts& facts) {
    const std::wstring clsidKey = L"CLSID\\" + guidText(CLSID_Valtrove);
    LSTATUS status = ERROR_SUCCESS;
    auto keep = [&status](LSTATUS next) {
        if (status == ERROR_SUCCESS) status = next;
    };
    keep(deleteTree(classes, clsidKey));
    // The ProgID key is one key for both views: it stays while the other library still needs it.
    if (!otherViewRegistersClass(classes, clsidKey)) keep(deleteTree(classes, kProgId));
    for (const TypeLibFacts::Interface& item : facts.interfaces)
        keep(deleteTree(classes, L"Interface\\" + guidText(item.iid)));

    // The version key is shared by the 32-bit and 64-bit libraries: remove this platform's entry,
    // and the rest only when no other platform or locale remains.
    const std::wstring libKey = L"TypeLib\\" + guidText(facts.libid);
    const std::wstring versionKey = libKey + L"\\" + versionText(facts);
    keep(deleteTree(classes, versionKey + L"\\0\\" + facts.platform));
    keep(deleteIfNoSubkeys(classes, versionKey + L"\\0"));
    {
        RegKey key;
        DWORD subkeys = 0;
        if (RegOpenKeyExW(classes, versionKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS &&
            RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            // Only FLAGS and HELPDIR left: nothing else uses this version.
            bool onlyOwnKeys = true;
            for (DWORD i = 0; i < subkeys && onlyOwnKeys; ++i) {
                wchar_t name[256];
                DWORD length = 256;
                if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                onlyOwnKeys = lstrcmpiW(name, L"FLAGS") == 0 || lstrcmpiW(name, L"HELPDIR") == 0;
            }
            key = RegKey();
            if (onlyOwnKeys) keep(deleteTree(classes, versionKey));
        }
    }
    keep(deleteIfNoSubkeys(classes, libKey));
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT registerAll(HKEY classes, const std::wstring& path, const TypeLibFacts& facts) {
    const std::wstring clsid = guidText(CLSID_Valtrove);
    const std::wstring clsidKey = L"CLSID\\" + clsid;
    const std::wstring libid = guidText(facts.libid);
    const std::wstring version = versionText(facts);
    std::wstring folder =
        path.substr(0, path.find_last_of(L"\\/") == std::wstring::npos ? 0 : path.find_last_of(L"\\/"));

    LSTATUS status = ERROR_SUCCESS;
    auto step = [&status](LSTATUS next) {
        if (status == ERROR_SUCCESS) status = next;
    };
    step(setString(classes, kProgId, nullptr, kProgId));
    step(setString(classes, std::wstring(kProgId) + L"\\CLSID", nullptr, clsid));

    step(setString(classes, clsidKey, nullptr, kProgId));
    step(setString(classes, clsidKey + L"\\InprocServer32", nullptr, path));
    step(setString(classes, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"" VTC_THREADING_MODEL));
    step(setString(classes, clsidKey + L"\\ProgID", nullptr, kProgId));
    step(createKey(classes, clsidKey + L"\\Control"));
    step(setString(classes, clsidKey + L"\\MiscStatus", nullptr, L"0"));
    step(setString(classes, clsidKey + L"\\MiscStatus\\1", nullptr, std::to_wstring(kMiscStatusContent)));
    step(
        setString(classes, clsidKey + L"\\ToolboxBitmap32", nullptr, path + L", " + std::to_wstring(kToolboxBitmapId)));
    step(setString(classes, clsidKey + L"\\TypeLib", nullptr, libid));
    step(setString(classes, clsidKey + L"\\Version", nullptr,
                   std::to_wstring(facts.major) + L"." + std::to_wstring(facts.minor)));

    const std::wstring versionKey = L"TypeLib\\" + libid + L"\\" + version;
    step(setString(classes, versionKey, nullptr, L"" VTC_LIBRARY_HELP));
    step(setString(classes, versionKey + L"\\0\\" + facts.platform, nullptr, path));
    step(setString(classes, versionKey + L"\\FLAGS", nullptr, std::to_wstring(facts.flags)));
    step(setString(classes, versionKey + L"\\HELPDIR", nullptr, folder));

    for (const TypeLibFacts::Interface& item : facts.interfaces) {
        const std::wstring key = L"Interface\\" + guidText(item.iid);
        const wchar_t* marshaller = item.dispatchOnly ? kDispatchMarshaller : kDualMarshaller;
        step(setString(classes, key, nullptr, item.name));
        step(setString(classes, key + L"\\ProxyStubClsid", nullptr, marshaller));
        step(setString(classes, key + L"\\ProxyStubClsid32", nullptr, marshaller));
        step(setString(classes, key + L"\\TypeLib", nullptr, libid));
        step(setString(classes, key + L"\\TypeLib", L"Version", version));
    }
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// Registers this library in classes; a failure leaves no half registration behind.
HRESULT registerIn(HKEY classes) {
    const std::wstring path = modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    TypeLibFacts facts;
    HRESULT hr = readTypeLib(path, facts);
    if (FAILED(hr)) return hr;
    hr = registerAll(classes, path, facts);
    if (FAILED(hr)) unregisterAll(classes, facts);
    return hr;
}

HRESULT unregisterIn(HKEY classes) {
    TypeLibFacts facts;
    const HRESULT hr = readTypeLib(modulePath(), facts);
    if (FAILED(hr)) return hr;
    return unregisterAll(classes, facts);
}

} // namespace
} // namespace vtc

STDAPI DllRegisterServer() {
    try {
        return vtc::registerIn(HKEY_CLASSES_ROOT);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return vtc::unregisterIn(HKEY_CLASSES_ROOT);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// regsvr32 /n /i:user (install) and regsvr32 /u /n /i:user (uninstall): the same registration in
// the current user's classes. The type library's keys go there too, as the platform's per-user
// type library registration writes them. Any other command line is refused.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
    if (!commandLine || lstrcmpiW(commandLine, L"user") != 0) return E_INVALIDARG;
    try {
        vtc::RegKey classes;
        const LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, classes.out(), nullptr);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        return install ? vtc::registerIn(classes.get()) : vtc::unregisterIn(classes.get());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
