// A host that uses ValtroveCtrl.ocx without registration, run by the deployment test from a folder
// holding this program, ValtroveCtrl.ocx and ValtroveCtrl.manifest:
//   --gtest_filter=SideBySide.*  with this program's application manifest (sxs_host.manifest.in
//                                beside it as <program>.manifest), which depends on the assembly
//                                "ValtroveCtrl" 57.0.0.41: everything comes from the manifests;
//   --gtest_filter=NoManifest.*  the same program without its manifest: the class is unknown.
#include "valuestore/tests/support/com_client.h"

namespace vtc::test {
namespace {

constexpr wchar_t kProgId[] = L"ValtroveCTL.Valtrove";
constexpr wchar_t kDualMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";

// The folder of this program, where the library must have been found.
std::wstring programFolder() {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// The control created by its ProgID, as the activation context resolves it.
ComPtr<IDispatch> createByProgId() {
    CLSID clsid{};
    ComPtr<IDispatch> control;
    EXPECT_HRESULT_SUCCEEDED(CLSIDFromProgID(kProgId, &clsid));
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.outVoid()));
    return control;
}

TEST(SideBySide, ProgIdCreatesTheControlThatNamesItsRealClass) {
    Apartment apartment;
    ComPtr<IDispatch> control = createByProgId();
    ASSERT_TRUE(control);
    // The activation context may hand out an alias for the ProgID's class; the object knows its own.
    ComPtr<IProvideClassInfo> provide = as<IProvideClassInfo>(control.get(), IID_IProvideClassInfo);
    ASSERT_TRUE(provide);
    ComPtr<ITypeInfo> classInfo;
    ASSERT_HRESULT_SUCCEEDED(provide->GetClassInfo(classInfo.out()));
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(classInfo.get()));
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualCLSID(attr->guid, CLSID_Valtrove)) << guidText(attr->guid);
    Bstr className;
    ASSERT_HRESULT_SUCCEEDED(classInfo->GetDocumentation(MEMBERID_NIL, className.out(), nullptr, nullptr, nullptr));
    EXPECT_EQ(className.view(), L"Valtrove");
}

TEST(SideBySide, ControlStoresValues) {
    Apartment apartment;
    ComPtr<IDispatch> control = createByProgId();
    ASSERT_TRUE(control);
    ScratchFolder folder;
    const std::wstring file = folder.file(L"values.txt");
    ASSERT_HRESULT_SUCCEEDED(put(control.get(), L"DataFile", text(file).ref()).hr);
    // The first load writes the default content (the worked example's start); then two adds.
    ASSERT_HRESULT_SUCCEEDED(call(control.get(), L"GetDataValues").hr);
    for (const auto& [name, data] : {std::pair{L"Speed", L"12"}, std::pair{L"Mode", L"auto"}}) {
        ASSERT_HRESULT_SUCCEEDED(put(control.get(), L"NewValueData", text(data).ref()).hr);
        Variant argument = text(name);
        ASSERT_HRESULT_SUCCEEDED(call(control.get(), L"AddDataValue", {reference(argument)}).hr) << name;
    }
    ASSERT_HRESULT_SUCCEEDED(call(control.get(), L"GetDataValues").hr);
    Call allData = call(control.get(), L"AllData");
    ComPtr<IDispatch> values = objectResult(allData);
    ASSERT_TRUE(values);
    Call count = call(values.get(), L"Count");
    ASSERT_HRESULT_SUCCEEDED(count.hr);
    EXPECT_EQ(V_VT(count.result.get()), VT_I4);
    EXPECT_EQ(V_I4(count.result.get()), 3);
    EXPECT_EQ(readBytes(file), dataFile("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "));
}

// The real class, the type library and the interfaces' marshallers come from the manifest too.
TEST(SideBySide, ManifestGivesTheClassTypeLibraryAndMarshallers) {
    Apartment apartment;
    ComPtr<IDispatch> control;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_Valtrove, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.outVoid()));
    DWORD status = 0;
    ASSERT_HRESULT_SUCCEEDED(OleRegGetMiscStatus(CLSID_Valtrove, DVASPECT_CONTENT, &status));
    EXPECT_EQ(status, 0x20591u);
    Bstr libraryPath;
    ASSERT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, libraryPath.out()));
    EXPECT_EQ(lower(std::wstring(libraryPath.view())), lower(programFolder() + L"\\ValtroveCtrl.ocx"));
    ComPtr<ITypeLib> library;
    EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_ValtroveCTL, 103, 0, 0, library.out()));
    const std::pair<const IID*, const wchar_t*> marshallers[] = {
        {&IID__Valtrove, kDualMarshaller}, {&DIID___Valtrove, kDispatchMarshaller}, {&IID_Collection, kDualMarshaller}};
    for (const auto& [iid, marshaller] : marshallers) {
        CLSID found{};
        EXPECT_HRESULT_SUCCEEDED(CoGetPSClsid(*iid, &found)) << guidText(*iid);
        EXPECT_EQ(guidText(found), marshaller) << guidText(*iid);
    }
}

TEST(NoManifest, TheClassIsNotRegistered) {
    Apartment apartment;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
    ComPtr<IUnknown> control;
    EXPECT_EQ(CoCreateInstance(CLSID_Valtrove, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.outVoid()),
              REGDB_E_CLASSNOTREG);
}

} // namespace
} // namespace vtc::test
