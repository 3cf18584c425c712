// Checks what regsvr32 left in the registry for ValtroveCtrl.ocx: run by the registration tests
// with --gtest_filter=Registered.* after "regsvr32" and Unregistered.* after "regsvr32 /u".
#include "support/com_client.h"

namespace vtc::test {
namespace {

constexpr wchar_t kClsid[] = L"CLSID\\{0C6404B8-48C5-4494-8608-C606118CB0DA}";
constexpr wchar_t kLibrary[] = L"TypeLib\\{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}";
constexpr wchar_t kProgId[] = L"ValtroveCTL.Valtrove";
const wchar_t* const kInterfaces[] = {L"Interface\\{09D0D1E1-0E46-4FB8-8275-B3B05B79A4EE}",
                                      L"Interface\\{25AF3E82-2151-42BD-9B80-5CA0E796B45E}",
                                      L"Interface\\{62AFD228-940A-4A1A-B2D8-303F965E06FB}"};

bool keyExists(const std::wstring& path) {
  RegKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

// A string value; "<none>" when the key or value is missing.
std::wstring value(const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer);
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return L"<none>";
  return buffer;
}

std::wstring lower(std::wstring text) {
  CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

TEST(Registered, ClassEntriesNameThisLibrary) {
  const std::wstring path = ocxPath();
  const std::wstring clsid(kClsid);
  EXPECT_EQ(value(clsid), kProgId);
  EXPECT_EQ(lower(value(clsid + L"\\InprocServer32")), lower(path));
  EXPECT_EQ(value(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(value(clsid + L"\\ProgID"), kProgId);
  EXPECT_TRUE(keyExists(clsid + L"\\Control"));
  EXPECT_EQ(value(clsid + L"\\MiscStatus\\1"), L"132497");
  EXPECT_EQ(lower(value(clsid + L"\\ToolboxBitmap32")), lower(path + L", 30000"));
  EXPECT_EQ(value(clsid + L"\\TypeLib"), L"{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}");
  EXPECT_EQ(value(clsid + L"\\Version"), L"103.0");
  EXPECT_EQ(value(std::wstring(kProgId) + L"\\CLSID"), L"{0C6404B8-48C5-4494-8608-C606118CB0DA}");

  Apartment apartment;
  DWORD status = 0;
  ASSERT_HRESULT_SUCCEEDED(OleRegGetMiscStatus(CLSID_Valtrove, DVASPECT_CONTENT, &status));
  EXPECT_EQ(status, 0x20591u);
}

TEST(Registered, ProgIdCreatesTheControl) {
  Apartment apartment;
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(kProgId, &clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Valtrove));
  LPOLESTR progId = nullptr;
  ASSERT_HRESULT_SUCCEEDED(ProgIDFromCLSID(CLSID_Valtrove, &progId));
  EXPECT_EQ(std::wstring(progId), kProgId);
  CoTaskMemFree(progId);

  ComPtr<IDispatch> control;
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(CLSID_Valtrove, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.outVoid()));
  EXPECT_EQ(call(control.get(), L"DataFile").textResult(), L"*.txt");
}

TEST(Registered, TypeLibraryAndInterfaces) {
  const std::wstring path = ocxPath();
  const std::wstring version = std::wstring(kLibrary) + L"\\67.0";  // 103.0, keyed in hexadecimal
  EXPECT_EQ(value(version), L"Data Retrieval Control");
  EXPECT_EQ(lower(value(version + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"))), lower(path));
  EXPECT_EQ(value(version + L"\\FLAGS"), L"2");
  EXPECT_EQ(lower(value(version + L"\\HELPDIR")), lower(path.substr(0, path.find_last_of(L'\\'))));

  Apartment apartment;
  ComPtr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, lib.out()));
  Bstr found;
  ASSERT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, found.out()));
  EXPECT_EQ(lower(std::wstring(found.view())), lower(path));

  const wchar_t* const names[] = {L"_Valtrove", L"__Valtrove", L"Collection"};
  const wchar_t* const marshallers[] = {L"{00020424-0000-0000-C000-000000000046}",
                                        L"{00020420-0000-0000-C000-000000000046}",
                                        L"{00020424-0000-0000-C000-000000000046}"};
  for (size_t i = 0; i < std::size(kInterfaces); ++i) {
    const std::wstring key(kInterfaces[i]);
    EXPECT_EQ(value(key), names[i]);
    EXPECT_EQ(value(key + L"\\ProxyStubClsid32"), marshallers[i]) << names[i];
    EXPECT_EQ(value(key + L"\\TypeLib"), L"{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}") << names[i];
    EXPECT_EQ(value(key + L"\\TypeLib", L"Version"), L"67.0") << names[i];
  }
}

TEST(Unregistered, NothingIsLeft) {
  EXPECT_FALSE(keyExists(kClsid));
  EXPECT_FALSE(keyExists(kProgId));
  EXPECT_FALSE(keyExists(kLibrary));
  for (const wchar_t* key : kInterfaces) EXPECT_FALSE(keyExists(key)) << key;

  Apartment apartment;
  CLSID clsid{};
  EXPECT_TRUE(FAILED(CLSIDFromProgID(kProgId, &clsid)));
  ComPtr<IUnknown> control;
  EXPECT_EQ(CoCreateInstance(CLSID_Valtrove, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.outVoid()),
            REGDB_E_CLASSNOTREG);
  ComPtr<ITypeLib> lib;
  EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, lib.out())));
}

}  // namespace
}  // namespace vtc::test
