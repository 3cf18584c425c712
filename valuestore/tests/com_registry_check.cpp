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

// The ATL container window class, from the platform's atl.dll, registered once per process.
struct AtlContainer {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    HRESULT(WINAPI* getControl)(HWND, IUnknown**) = nullptr;
    bool ready = false;

    static const AtlContainer& get() {
        static const AtlContainer container;
        return container;
    }
    // A container window of the asked size hosting a control created from the ProgID.
    HWND host(HWND parent, int width, int height) const {
        return CreateWindowExW(0, L"AtlAxWin", kProgId, WS_CHILD | WS_VISIBLE, 0, 0, width, height, parent, nullptr,
                               nullptr, nullptr);
    }

private:
    AtlContainer() {
        if (!atl) return;
        auto init = reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        getControl = reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
        ready = init && getControl && init();
    }
};

// The control hosted by its ProgID in ATL container windows on a form.
class AtlHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(atl_.ready) << "atl.dll and its AtlAxWinInit";
        form_ = CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_NE(form_, nullptr);
    }
    void TearDown() override {
        if (form_) DestroyWindow(form_);
    }
    // The control of a new container window of that size in pixels (null when it was not created).
    ComPtr<IUnknown> host(int width, int height) const {
        ComPtr<IUnknown> control;
        if (HWND window = atl_.host(form_, width, height)) atl_.getControl(window, control.out());
        return control;
    }
    // A hosted control with the three persisted properties away from their defaults.
    ComPtr<IUnknown> changedControl() const {
        ComPtr<IUnknown> hosted = host(10, 10);
        if (ComPtr<IDispatch> control = as<IDispatch>(hosted.get(), IID_IDispatch)) {
            EXPECT_HRESULT_SUCCEEDED(put(control.get(), L"DataFile", integer(12).ref()).hr);
            EXPECT_HRESULT_SUCCEEDED(put(control.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
            EXPECT_HRESULT_SUCCEEDED(put(control.get(), L"Enabled", boolean(false).ref()).hr);
        }
        return hosted;
    }
    static void expectChangedProperties(IUnknown* hosted) {
        ComPtr<IDispatch> control = as<IDispatch>(hosted, IID_IDispatch);
        ASSERT_TRUE(control);
        Call dataFile = call(control.get(), L"DataFile");
        EXPECT_EQ(V_VT(dataFile.result.get()), VT_I4);
        EXPECT_EQ(V_I4(dataFile.result.get()), 12);
        EXPECT_EQ(V_BOOL(call(control.get(), L"AutomaticRewrite").result.get()), VARIANT_TRUE);
        EXPECT_EQ(V_BOOL(call(control.get(), L"Enabled").result.get()), VARIANT_FALSE);
    }

    Apartment apartment_;
    const AtlContainer& atl_ = AtlContainer::get();
    HWND form_ = nullptr;
};

TEST_F(AtlHost, HostedControlIsSitedAndKeepsItsSize) {
    ComPtr<IUnknown> hosted = host(2000 / 15, 100 / 15); // 2000 by 100 twips asked
    ComPtr<IOleObject> ole = as<IOleObject>(hosted.get(), IID_IOleObject);
    ASSERT_TRUE(ole);
    ComPtr<IOleClientSite> site;
    ASSERT_HRESULT_SUCCEEDED(ole->GetClientSite(site.out()));
    EXPECT_TRUE(site) << "the container sited the control";
    SIZEL size{};
    ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(size.cx, MulDiv(480, 2540, 1440));
    EXPECT_EQ(size.cy, MulDiv(480, 2540, 1440));
}

// Properties set through the host go through a stream save and load into a second hosted control.
TEST_F(AtlHost, StreamCarriesThePropertiesToASecondHostedControl) {
    ComPtr<IUnknown> hosted = changedControl();
    auto persist = as<IPersistStreamInit>(hosted.get(), IID_IPersistStreamInit);
    ASSERT_TRUE(persist);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ComPtr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(stream.get(), TRUE));
    ComPtr<IUnknown> reloaded = host(10, 10);
    auto reloadedPersist = as<IPersistStreamInit>(reloaded.get(), IID_IPersistStreamInit);
    ASSERT_TRUE(reloadedPersist);
    ASSERT_HRESULT_SUCCEEDED(stream->Seek({}, STREAM_SEEK_SET, nullptr));
    ASSERT_HRESULT_SUCCEEDED(reloadedPersist->Load(stream.get()));
    expectChangedProperties(reloaded.get());
}

// And through a property bag (the container's own, as a form file would hold it).
TEST_F(AtlHost, PropertyBagCarriesThePropertiesToASecondHostedControl) {
    ComPtr<IUnknown> hosted = changedControl();
    auto persist = as<IPersistPropertyBag>(hosted.get(), IID_IPersistPropertyBag);
    ASSERT_TRUE(persist);
    RecordingBag bag;
    ASSERT_HRESULT_SUCCEEDED(persist->Save(&bag, TRUE, FALSE));
    EXPECT_EQ(bag.writes.size(), 3u);
    bag.holdWrites();
    ComPtr<IUnknown> reloaded = host(10, 10);
    auto reloadedPersist = as<IPersistPropertyBag>(reloaded.get(), IID_IPersistPropertyBag);
    ASSERT_TRUE(reloadedPersist);
    ASSERT_HRESULT_SUCCEEDED(reloadedPersist->Load(&bag, nullptr));
    expectChangedProperties(reloaded.get());
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
    LibraryAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(lib.get()));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ValtroveCTL));

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
