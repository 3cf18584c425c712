// DllRegisterServer / DllUnregisterServer: the class, its ProgID, the in-process server entry,
// the control marks, the toolbox bitmap, the embedded type library and its interfaces, all in
// HKEY_CLASSES_ROOT and naming this library's real path. On a 64-bit system the class and
// interface keys are per registry view (the x86 library's in the 32-bit view); the ProgID and
// type library keys are shared by both libraries.
#include <windows.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "ValtroveCtrl_h.h"
#include "com_util.h"
#include "module.h"

namespace vtc {
namespace {

constexpr wchar_t kProgId[] = L"ValtroveCTL.Valtrove";
// Set client site first, invisible at run time, activate when visible, inside-out, cannot link
// inside, recompose on resize.
constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                              OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_RECOMPOSEONRESIZE;
static_assert(kMiscStatus == 0x20591);
constexpr int kToolboxBitmapId = 30000;

// Automation marshallers for dual interfaces and dispinterfaces.
constexpr wchar_t kDualMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";

std::wstring guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Writes a string value (the default value when name is null), creating the key.
LSTATUS setString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& value) {
  RegKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, key.out(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS createKey(const std::wstring& keyPath) {
  RegKey key;
  return RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                         nullptr, key.out(), nullptr);
}

// Deletes a key with everything below it; a key that is not there counts as deleted.
LSTATUS deleteTree(const std::wstring& keyPath) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, keyPath.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    const LSTATUS last = RegDeleteKeyW(HKEY_CLASSES_ROOT, keyPath.c_str());
    return last == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : last;
  }
  return status;
}

// Deletes a key only when it has no subkeys left (shared parts of the type library entry).
LSTATUS deleteIfNoSubkeys(const std::wstring& keyPath) {
  RegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.out());
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  DWORD subkeys = 0;
  status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  key = RegKey();
  return subkeys == 0 ? deleteTree(keyPath) : ERROR_SUCCESS;
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
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  facts.libid = attr->guid;
  facts.major = attr->wMajorVerNum;
  facts.minor = attr->wMinorVerNum;
  // What the library declares (FHASDISKIMAGE only says where it was loaded from).
  facts.flags = attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN);
  facts.platform = attr->syskind == SYS_WIN64 ? L"win64" : L"win32";
  lib->ReleaseTLibAttr(attr);

  const UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, info.out()))) return SELFREG_E_TYPELIB;
    TYPEATTR* typeAttr = nullptr;
    if (FAILED(info->GetTypeAttr(&typeAttr))) return SELFREG_E_TYPELIB;
    const bool dispatch = typeAttr->typekind == TKIND_DISPATCH;
    const bool automation =
        typeAttr->typekind == TKIND_INTERFACE && (typeAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    const GUID iid = typeAttr->guid;
    const bool dual = (typeAttr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    info->ReleaseTypeAttr(typeAttr);
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
bool otherViewRegistersClass(const std::wstring& clsidKey) {
  constexpr REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  RegKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, (clsidKey + L"\\InprocServer32").c_str(), 0, KEY_READ | otherView,
                       key.out()) == ERROR_SUCCESS;
}

// Removes everything registration writes; parts already gone are fine.
HRESULT unregisterAll(const TypeLibFacts& facts) {
  const std::wstring clsidKey = L"CLSID\\" + guidText(CLSID_Valtrove);
  LSTATUS status = ERROR_SUCCESS;
  auto keep = [&status](LSTATUS next) {
    if (status == ERROR_SUCCESS) status = next;
  };
  keep(deleteTree(clsidKey));
  // The ProgID key is one key for both views: it stays while the other library still needs it.
  if (!otherViewRegistersClass(clsidKey)) keep(deleteTree(kProgId));
  for (const TypeLibFacts::Interface& item : facts.interfaces) keep(deleteTree(L"Interface\\" + guidText(item.iid)));

  // The version key is shared by the 32-bit and 64-bit libraries: remove this platform's entry,
  // and the rest only when no other platform or locale remains.
  const std::wstring libKey = L"TypeLib\\" + guidText(facts.libid);
  const std::wstring versionKey = libKey + L"\\" + versionText(facts);
  keep(deleteTree(versionKey + L"\\0\\" + facts.platform));
  keep(deleteIfNoSubkeys(versionKey + L"\\0"));
  {
    RegKey key;
    DWORD subkeys = 0;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS &&
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS) {
      // Only FLAGS and HELPDIR left: nothing else uses this version.
      bool onlyOwnKeys = true;
      for (DWORD i = 0; i < subkeys && onlyOwnKeys; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        onlyOwnKeys = lstrcmpiW(name, L"FLAGS") == 0 || lstrcmpiW(name, L"HELPDIR") == 0;
      }
      key = RegKey();
      if (onlyOwnKeys) keep(deleteTree(versionKey));
    }
  }
  keep(deleteIfNoSubkeys(libKey));
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT registerAll(const std::wstring& path, const TypeLibFacts& facts) {
  const std::wstring clsid = guidText(CLSID_Valtrove);
  const std::wstring clsidKey = L"CLSID\\" + clsid;
  const std::wstring libid = guidText(facts.libid);
  const std::wstring version = versionText(facts);
  std::wstring folder = path.substr(0, path.find_last_of(L"\\/") == std::wstring::npos ? 0 : path.find_last_of(L"\\/"));

  LSTATUS status = ERROR_SUCCESS;
  auto step = [&status](LSTATUS next) {
    if (status == ERROR_SUCCESS) status = next;
  };
  step(setString(kProgId, nullptr, kProgId));
  step(setString(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid));

  step(setString(clsidKey, nullptr, kProgId));
  step(setString(clsidKey + L"\\InprocServer32", nullptr, path));
  step(setString(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"));
  step(setString(clsidKey + L"\\ProgID", nullptr, kProgId));
  step(createKey(clsidKey + L"\\Control"));
  step(setString(clsidKey + L"\\MiscStatus", nullptr, L"0"));
  step(setString(clsidKey + L"\\MiscStatus\\1", nullptr, std::to_wstring(kMiscStatus)));
  step(setString(clsidKey + L"\\ToolboxBitmap32", nullptr, path + L", " + std::to_wstring(kToolboxBitmapId)));
  step(setString(clsidKey + L"\\TypeLib", nullptr, libid));
  step(setString(clsidKey + L"\\Version", nullptr, std::to_wstring(facts.major) + L"." + std::to_wstring(facts.minor)));

  const std::wstring versionKey = L"TypeLib\\" + libid + L"\\" + version;
  step(setString(versionKey, nullptr, L"Data Retrieval Control"));
  step(setString(versionKey + L"\\0\\" + facts.platform, nullptr, path));
  step(setString(versionKey + L"\\FLAGS", nullptr, std::to_wstring(facts.flags)));
  step(setString(versionKey + L"\\HELPDIR", nullptr, folder));

  for (const TypeLibFacts::Interface& item : facts.interfaces) {
    const std::wstring key = L"Interface\\" + guidText(item.iid);
    const wchar_t* marshaller = item.dispatchOnly ? kDispatchMarshaller : kDualMarshaller;
    step(setString(key, nullptr, item.name));
    step(setString(key + L"\\ProxyStubClsid", nullptr, marshaller));
    step(setString(key + L"\\ProxyStubClsid32", nullptr, marshaller));
    step(setString(key + L"\\TypeLib", nullptr, libid));
    step(setString(key + L"\\TypeLib", L"Version", version));
  }
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace
}  // namespace vtc

STDAPI DllRegisterServer() {
  try {
    const std::wstring path = vtc::modulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    vtc::TypeLibFacts facts;
    HRESULT hr = vtc::readTypeLib(path, facts);
    if (FAILED(hr)) return hr;
    hr = vtc::registerAll(path, facts);
    if (FAILED(hr)) vtc::unregisterAll(facts);  // leave no half registration behind
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    vtc::TypeLibFacts facts;
    const HRESULT hr = vtc::readTypeLib(vtc::modulePath(), facts);
    if (FAILED(hr)) return hr;
    return vtc::unregisterAll(facts);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
