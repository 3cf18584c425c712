// Checks what regsvr32 left in the registry for ValtroveCtrl.ocx: run by the registration tests
// with --gtest_filter=Registered.* after "regsvr32" and Unregistered.* after "regsvr32 /u"; and,
// while registered, AtlHost.*: the control hosted by name in the platform's ATL container window.
// The deployment test runs NoKeys.* in a prefix where the control was never registered,
// PerUser.* after "regsvr32 /n /i:user" and PerUserRemoved.* after "regsvr32 /u /n /i:user".
#include "valuestore/tests/support/com_client.h"

namespace vtc::test {
namespace {

constexpr wchar_t kClsid[] = L"CLSID\\{0C6404B8-48C5-4494-8608-C606118CB0DA}";
constexpr wchar_t kLibrary[] = L"TypeLib\\{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}";
constexpr wchar_t kProgId[] = L"ValtroveCTL.Valtrove";
const wchar_t* const kInterfaces[] = {L"Interface\\{09D0D1E1-0E46-4FB8-8275-B3B05B79A4EE}",
                                      L"Interface\\{25AF3E82-2151-42BD-9B80-5CA0E796B45E}",
                                      L"Interface\\{62AFD228-940A-4A1A-B2D8-303F965E06FB}"};

// Where keys are looked up: a root, the path of the classes under it, a registry view.
struct Classes {
    HKEY root;
    const wchar_t* prefix;
    REGSAM view = 0; // 0: this program's own
};
const Classes kMerged{HKEY_CLASSES_ROOT, L""};
// The user's classes. Windows shows them in HKEY_CLASSES_ROOT as well; Wine does not, so they are
// read where the per-user registration writes them.
const Classes kUser{HKEY_CURRENT_USER, L"Software\\Classes\\"};
const Classes kMachine64{HKEY_LOCAL_MACHINE, L"Software\\Classes\\", KEY_WOW64_64KEY};
const Classes kMachine32{HKEY_LOCAL_MACHINE, L"Software\\Classes\\", KEY_WOW64_32KEY};

bool keyExists(const Classes& classes, const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(classes.root, (classes.prefix + path).c_str(), 0, KEY_READ | classes.view, key.out()) ==
           ERROR_SUCCESS;
}

// A string value; "<none>" when the key or value is missing.
std::wstring value(const Classes& classes, const std::wstring& path, const wchar_t* name = nullptr) {
    RegKey key;
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegOpenKeyExW(classes.root, (classes.prefix + path).c_str(), 0, KEY_READ | classes.view, key.out()) !=
            ERROR_SUCCESS ||
        RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<none>";
    return buffer;
}

std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The class and ProgID keys that registration writes, naming this library.
void expectClassKeys(const Classes& classes) {
    const std::wstring path = ocxPath();
    const std::wstring clsid(kClsid);
    EXPECT_EQ(value(classes, clsid), kProgId);
    EXPECT_EQ(lower(value(classes, clsid + L"\\InprocServer32")), lower(path));
    EXPECT_EQ(value(classes, clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value(classes, clsid + L"\\ProgID"), kProgId);
    EXPECT_TRUE(keyExists(classes, clsid + L"\\Control"));
    EXPECT_EQ(value(classes, clsid + L"\\MiscStatus\\1"), L"132497");
    EXPECT_EQ(lower(value(classes, clsid + L"\\ToolboxBitmap32")), lower(path + L", 30000"));
    EXPECT_EQ(value(classes, clsid + L"\\TypeLib"), L"{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}");
    EXPECT_EQ(value(classes, clsid + L"\\Version"), L"103.0");
    EXPECT_EQ(value(classes, std::wstring(kProgId) + L"\\CLSID"), L"{0C6404B8-48C5-4494-8608-C606118CB0DA}");
}

// The type library's keys and the interfaces' marshalling keys.
void expectTypeLibraryKeys(const Classes& classes) {
    const std::wstring path = ocxPath();
    const std::wstring version = std::wstring(kLibrary) + L"\\67.0"; // 103.0, keyed in hexadecimal
    EXPECT_EQ(value(classes, version), L"Data Retrieval Control");
    EXPECT_EQ(lower(value(classes, version + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"))), lower(path));
    EXPECT_EQ(value(classes, version + L"\\FLAGS"), L"2");
    EXPECT_EQ(lower(value(classes, version + L"\\HELPDIR")), lower(path.substr(0, path.find_last_of(L'\\'))));

    const wchar_t* const names[] = {L"_Valtrove", L"__Valtrove", L"Collection"};
    const wchar_t* const marshallers[] = {L"{00020424-0000-0000-C000-000000000046}",
                                          L"{00020420-0000-0000-C000-000000000046}",
                                          L"{00020424-0000-0000-C000-000000000046}"};
    for (size_t i = 0; i < std::size(kInterfaces); ++i) {
        const std::wstring key(kInterfaces[i]);
        EXPECT_EQ(value(classes, key), names[i]);
        EXPECT_EQ(value(classes, key + L"\\ProxyStubClsid32"), marshallers[i]) << names[i];
        EXPECT_EQ(value(classes, key + L"\\TypeLib"), L"{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}") << names[i];
        EXPECT_EQ(value(classes, key + L"\\TypeLib", L"Version"), L"67.0") << names[i];
    }
}

// No key of the control at all in these classes.
void expectNoKeys(const Classes& classes, const char* where) {
    EXPECT_FALSE(keyExists(classes, kClsid)) << where;
    EXPECT_FALSE(keyExists(classes, kProgId)) << where;
    EXPECT_FALSE(keyExists(classes, kLibrary)) << where;
    for (const wchar_t* key : kInterfaces) EXPECT_FALSE(keyExists(classes, key)) << where;
}

TEST(Registered, ClassEntriesNameThisLibrary) {
    expectClassKeys(kMerged);

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
    expectTypeLibraryKeys(kMerged);

    Apartment apartment;
    ComPtr<ITypeLib> lib;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, lib.out()));
    Bstr found;
    ASSERT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, found.out()));
    EXPECT_EQ(lower(std::wstring(found.view())), lower(ocxPath()));
}

// The ATL container window class, from the platform's atl.dll.
struct AtlContainer {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    BOOL(WINAPI* init)() = nullptr;
    HRESULT(WINAPI* getControl)(HWND, IUnknown**) = nullptr;
    AtlContainer() {
        if (!atl) return;
        init = reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        getControl = reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    }
    // A container window of the asked size hosting a control created from the ProgID.
    HWND host(HWND parent, int width, int height) const {
        return CreateWindowExW(0, L"AtlAxWin", kProgId, WS_CHILD | WS_VISIBLE, 0, 0, width, height, parent, nullptr,
                               nullptr, nullptr);
    }
};

TEST(AtlHost, HostedControlKeepsItsSizeAndPersistsThroughBagAndStream) {
    Apartment apartment;
    AtlContainer atl;
    ASSERT_TRUE(atl.init && atl.getControl) << "atl.dll";
    ASSERT_TRUE(atl.init());
    HWND form = CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(form, nullptr);
    HWND first = atl.host(form, 2000 / 15, 100 / 15); // 2000 by 100 twips asked
    ASSERT_NE(first, nullptr);
    ComPtr<IUnknown> hosted;
    ASSERT_HRESULT_SUCCEEDED(atl.getControl(first, hosted.out()));
    ComPtr<IDispatch> control;
    ASSERT_HRESULT_SUCCEEDED(hosted->QueryInterface(IID_IDispatch, control.outVoid()));
    ComPtr<IOleObject> ole;
    ASSERT_HRESULT_SUCCEEDED(hosted->QueryInterface(IID_IOleObject, ole.outVoid()));
    ComPtr<IOleClientSite> site;
    ASSERT_HRESULT_SUCCEEDED(ole->GetClientSite(site.out()));
    EXPECT_TRUE(site) << "the container sited the control";
    SIZEL size{};
    ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(size.cx, MulDiv(480, 2540, 1440));
    EXPECT_EQ(size.cy, MulDiv(480, 2540, 1440));

    // Properties set through the host go through a stream save and load into a second hosted control.
    ASSERT_HRESULT_SUCCEEDED(put(control.get(), L"DataFile", integer(12).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    ComPtr<IPersistStreamInit> persist;
    ASSERT_HRESULT_SUCCEEDED(hosted->QueryInterface(IID_IPersistStreamInit, persist.outVoid()));
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ComPtr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(stream.get(), TRUE));
    HWND second = atl.host(form, 10, 10);
    ComPtr<IUnknown> reloaded;
    ASSERT_HRESULT_SUCCEEDED(atl.getControl(second, reloaded.out()));
    ASSERT_HRESULT_SUCCEEDED(stream->Seek({}, STREAM_SEEK_SET, nullptr));
    ComPtr<IPersistStreamInit> reloadedPersist;
    ASSERT_HRESULT_SUCCEEDED(reloaded->QueryInterface(IID_IPersistStreamInit, reloadedPersist.outVoid()));
    ASSERT_HRESULT_SUCCEEDED(reloadedPersist->Load(stream.get()));
    ComPtr<IDispatch> reloadedControl;
    ASSERT_HRESULT_SUCCEEDED(reloaded->QueryInterface(IID_IDispatch, reloadedControl.outVoid()));
    Call dataFile = call(reloadedControl.get(), L"DataFile");
    EXPECT_EQ(V_VT(dataFile.result.get()), VT_I4);
    EXPECT_EQ(V_I4(dataFile.result.get()), 12);
    EXPECT_EQ(V_BOOL(call(reloadedControl.get(), L"AutomaticRewrite").result.get()), VARIANT_TRUE);

    // And through a property bag (the container's own, as a form file would hold it).
    ComPtr<IPersistPropertyBag> bagPersist;
    ASSERT_HRESULT_SUCCEEDED(hosted->QueryInterface(IID_IPersistPropertyBag, bagPersist.outVoid()));
    class Bag final : public IPropertyBag {
    public:
        std::vector<std::pair<std::wstring, Variant>> values;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            *out = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag) ? this : nullptr;
            return *out ? S_OK : E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE Read(LPCOLESTR key, VARIANT* value, IErrorLog*) override {
            for (auto& [name, held] : values)
                if (name == key) return VariantCopy(value, held.get());
            return E_INVALIDARG;
        }
        HRESULT STDMETHODCALLTYPE Write(LPCOLESTR key, VARIANT* value) override {
            values.emplace_back(key, Variant());
            return VariantCopy(values.back().second.get(), value);
        }
    } bag;
    ASSERT_HRESULT_SUCCEEDED(put(control.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(bagPersist->Save(&bag, TRUE, FALSE));
    EXPECT_EQ(bag.values.size(), 3u);
    ComPtr<IPersistPropertyBag> reloadedBag;
    ASSERT_HRESULT_SUCCEEDED(reloaded->QueryInterface(IID_IPersistPropertyBag, reloadedBag.outVoid()));
    ASSERT_HRESULT_SUCCEEDED(reloadedBag->Load(&bag, nullptr));
    EXPECT_EQ(V_BOOL(call(reloadedControl.get(), L"Enabled").result.get()), VARIANT_FALSE);
    EXPECT_EQ(V_I4(call(reloadedControl.get(), L"DataFile").result.get()), 12);

    control.reset();
    ole.reset();
    site.reset();
    persist.reset();
    bagPersist.reset();
    hosted.reset();
    reloaded.reset();
    reloadedPersist.reset();
    reloadedControl.reset();
    reloadedBag.reset();
    DestroyWindow(form);
}

TEST(Unregistered, NothingIsLeft) {
    expectNoKeys(kMerged, "HKEY_CLASSES_ROOT");

    Apartment apartment;
    CLSID clsid{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(kProgId, &clsid)));
    ComPtr<IUnknown> control;
    EXPECT_EQ(CoCreateInstance(CLSID_Valtrove, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.outVoid()),
              REGDB_E_CLASSNOTREG);
    ComPtr<ITypeLib> lib;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, lib.out())));
}

// A prefix where the control was never registered.
TEST(NoKeys, InEitherMachineViewNorForTheUser) {
    expectNoKeys(kMachine64, "machine, 64-bit view");
    expectNoKeys(kMachine32, "machine, 32-bit view");
    expectNoKeys(kUser, "user");
}

TEST(PerUser, UserClassesHoldTheRegistration) {
    expectClassKeys(kUser);
    expectTypeLibraryKeys(kUser);
}

TEST(PerUser, NothingMachineWide) {
    expectNoKeys(kMachine64, "machine, 64-bit view");
    expectNoKeys(kMachine32, "machine, 32-bit view");
}

// What a host on Windows finds through HKEY_CLASSES_ROOT, which shows the user's classes there.
// Wine's HKEY_CLASSES_ROOT does not show them, so the keys are followed by hand: ProgID, class,
// in-process server, and the type library registered for the user.
TEST(PerUser, UserKeysLeadToAWorkingControl) {
    Apartment apartment;
    CLSID clsid{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromString(value(kUser, std::wstring(kProgId) + L"\\CLSID").c_str(), &clsid));
    const std::wstring server =
        value(kUser, L"CLSID\\" + value(kUser, std::wstring(kProgId) + L"\\CLSID") + L"\\InprocServer32");
    HMODULE library = LoadLibraryW(server.c_str());
    ASSERT_NE(library, nullptr) << server;
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject(clsid, IID_IClassFactory, factory.outVoid()));
    ComPtr<IDispatch> control;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, control.outVoid()));
    EXPECT_EQ(call(control.get(), L"DataFile").textResult(), L"*.txt");

    const std::wstring version = std::wstring(kLibrary) + L"\\67.0";
    ComPtr<ITypeLib> lib;
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(
        value(kUser, version + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32")).c_str(), REGKIND_NONE, lib.out()));
    TLIBATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ValtroveCTL));
    lib->ReleaseTLibAttr(attr);

    // Where HKEY_CLASSES_ROOT shows the user's classes (Windows), the ProgID resolves through them.
    CLSID resolved{};
    if (SUCCEEDED(CLSIDFromProgID(kProgId, &resolved))) {
        EXPECT_TRUE(IsEqualCLSID(resolved, CLSID_Valtrove));
    }
    control.reset();
    factory.reset();
}

TEST(PerUserRemoved, NoUserKeysLeft) { expectNoKeys(kUser, "user"); }

} // namespace
} // namespace vtc::test
