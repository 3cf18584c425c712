// ValtroveCtrl.ocx as a COM server: its exports (by ordinal), the embedded type library checked
// member by member against the control's published interface, the class factory and the module
// lifetime.
#include "valuestore/tests/support/com_client.h"

#include <map>
#include <set>

namespace vtc::test {
namespace {

TEST(ComServerExports, ExactlyFiveNamedExportsWithOrdinalsOneToFive) {
    const Ocx& ocx = Ocx::get();
    ASSERT_NE(ocx.module, nullptr) << "cannot load the library";
    const auto* base = reinterpret_cast<const BYTE*>(ocx.module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 5u);
    ASSERT_EQ(exports->NumberOfNames, 5u);

    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::map<std::string, DWORD> byName;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        byName[reinterpret_cast<const char*>(base + names[i])] = ordinals[i] + exports->Base;
    const std::map<std::string, DWORD> expected{{"DllCanUnloadNow", 1},
                                                {"DllGetClassObject", 2},
                                                {"DllRegisterServer", 3},
                                                {"DllUnregisterServer", 4},
                                                {"DllInstall", 5}};
    EXPECT_EQ(byName, expected);

    // The ordinal and the name reach the same function.
    for (const auto& [name, ordinal] : expected)
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(ocx.module, name.c_str())),
                  reinterpret_cast<void*>(GetProcAddress(ocx.module, MAKEINTRESOURCEA(ordinal))))
            << name;
}

// Only "user" (regsvr32 /n /i:user) installs or uninstalls; anything else is refused before
// the registry is touched.
TEST(ComServerExports, DllInstallRefusesEveryCommandLineButUser) {
    const Ocx& ocx = Ocx::get();
    ASSERT_NE(ocx.install, nullptr);
    for (const wchar_t* line :
         {static_cast<const wchar_t*>(nullptr), L"", L"machine", L"user ", L"/i:user", L"users"}) {
        EXPECT_EQ(ocx.install(TRUE, line), E_INVALIDARG) << (line ? line : L"(null)");
        EXPECT_EQ(ocx.install(FALSE, line), E_INVALIDARG) << (line ? line : L"(null)");
    }
    RegKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\ValtroveCTL.Valtrove", 0, KEY_READ, key.out()),
              ERROR_FILE_NOT_FOUND);
}

TEST(ComServerExports, VersionResourceNamesTheLibraryAndSelfRegistration) {
    const std::wstring path = ocxPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 57));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(41, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 57));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(41, 0));

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x409);
    EXPECT_EQ(translation[1], 1200);

    const std::map<std::wstring, std::wstring> strings{
        {L"ProductName", L"ValtroveCtrl"},          {L"InternalName", L"ValtroveCtrl"},
        {L"OriginalFilename", L"ValtroveCtrl.ocx"}, {L"FileVersion", L"57.00.0041"},
        {L"ProductVersion", L"57.00.0041"},         {L"OLESelfRegister", L""}};
    for (const auto& [key, value] : strings) {
        wchar_t* found = nullptr;
        length = 0;
        const std::wstring query = L"\\StringFileInfo\\040904B0\\" + key;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&found), &length)) << key;
        EXPECT_EQ(std::wstring(found ? found : L""), value) << key;
    }
}

TEST(ComServerExports, ToolboxBitmapIs16By15At24Bits) {
    const Ocx& ocx = Ocx::get();
    HRSRC resource = FindResourceW(ocx.module, MAKEINTRESOURCEW(30000), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    ASSERT_NE(resource, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(ocx.module, resource)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biWidth, 16);
    EXPECT_EQ(header->biHeight, 15);
    EXPECT_EQ(header->biBitCount, 24);
}

// ---- Type library ---------------------------------------------------------------------------

struct Param {
    VARTYPE type;
    USHORT flags;
    std::wstring pointee; // for VT_PTR: the base type's number or the user-defined type's name
};

struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    DISPID id;
    std::vector<Param> params; // the return value last for getters and methods
    const wchar_t* help;
};

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr wchar_t kEnabledHelp[] =
    L"Returns/sets a value that determines whether an object can respond to user-generated events.";
constexpr wchar_t kRewriteHelp[] = L"Returns/Sets a Value determining if the Data in an Ambiguous Value name is "
                                   L"overwritten with AddDataValue Function";

const std::vector<Member>& controlMembers() {
    const std::wstring bstr = std::to_wstring(VT_BSTR), boolean = std::to_wstring(VT_BOOL),
                       variant = std::to_wstring(VT_VARIANT), collection = L"Collection";
    static const std::vector<Member> members{
        {L"AllData", INVOKE_PROPERTYGET, 0x40030000, {{VT_PTR, kRetval, L"*" + collection}}, nullptr},
        {L"AllData", INVOKE_PROPERTYPUTREF, 0x40030000, {{VT_PTR, kIn, collection}}, nullptr},
        {L"ValueList", INVOKE_PROPERTYGET, 0x40030001, {{VT_PTR, kRetval, L"*" + collection}}, nullptr},
        {L"ValueList", INVOKE_PROPERTYPUTREF, 0x40030001, {{VT_PTR, kIn, collection}}, nullptr},
        {L"NewValueData", INVOKE_PROPERTYGET, 0x40030002, {{VT_PTR, kRetval, bstr}}, nullptr},
        {L"NewValueData", INVOKE_PROPERTYPUT, 0x40030002, {{VT_BSTR, kIn, L""}}, nullptr},
        {L"Enabled", INVOKE_PROPERTYGET, 0x68030002, {{VT_PTR, kRetval, boolean}}, kEnabledHelp},
        {L"Enabled", INVOKE_PROPERTYPUT, 0x68030002, {{VT_BOOL, kIn, L""}}, kEnabledHelp},
        {L"DataFile", INVOKE_PROPERTYGET, 0x68030001, {{VT_PTR, kRetval, variant}}, L"Data File Location"},
        {L"DataFile", INVOKE_PROPERTYPUT, 0x68030001, {{VT_VARIANT, kIn, L""}}, L"Data File Location"},
        {L"ClearAll", INVOKE_FUNC, 0x60030003, {{VT_PTR, kRetval, variant}}, nullptr},
        {L"AddDataValue", INVOKE_FUNC, 0x60030004, {{VT_PTR, kInOut, bstr}, {VT_PTR, kRetval, variant}}, nullptr},
        {L"RewriteDataValue", INVOKE_FUNC, 0x60030005, {{VT_PTR, kInOut, bstr}, {VT_PTR, kRetval, variant}}, nullptr},
        {L"RemoveDataValue", INVOKE_FUNC, 0x60030006, {{VT_BSTR, kIn, L""}, {VT_PTR, kRetval, variant}}, nullptr},
        {L"GetDataValues", INVOKE_FUNC, 0x60030007, {{VT_PTR, kRetval, variant}}, nullptr},
        {L"AutomaticRewrite", INVOKE_PROPERTYGET, 0x68030000, {{VT_PTR, kRetval, boolean}}, kRewriteHelp},
        {L"AutomaticRewrite", INVOKE_PROPERTYPUT, 0x68030000, {{VT_BOOL, kIn, L""}}, kRewriteHelp},
    };
    return members;
}

// What a pointer parameter points at: the base type's number or the user-defined type's name,
// with a '*' for each further level of pointer.
std::wstring pointee(ITypeInfo* info, const TYPEDESC& type) {
    std::wstring levels;
    const TYPEDESC* target = type.lptdesc;
    for (; target->vt == VT_PTR; target = target->lptdesc) levels += L"*";
    if (target->vt != VT_USERDEFINED) return levels + std::to_wstring(target->vt);
    ComPtr<ITypeInfo> referenced;
    if (FAILED(info->GetRefTypeInfo(target->hreftype, referenced.out()))) return L"?";
    Bstr name;
    referenced->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
    return levels + std::wstring(name.view());
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(ocxPath().c_str(), REGKIND_NONE, lib_.out())); }
    ComPtr<ITypeInfo> infoAt(UINT index) {
        ComPtr<ITypeInfo> info;
        lib_->GetTypeInfo(index, info.out());
        return info;
    }
    static WORD flagsOf(ITypeInfo* info, TYPEKIND* kind = nullptr, GUID* guid = nullptr) {
        TypeAttributes attr;
        if (FAILED(attr.load(info))) return 0xFFFF;
        if (kind) *kind = attr->typekind;
        if (guid) *guid = attr->guid;
        return attr->wTypeFlags;
    }
    ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibrary, LibraryAttributesAndTypeOrder) {
    LibraryAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(lib_.get()));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ValtroveCTL));
    EXPECT_EQ(attr->wMajorVerNum, 103);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_TRUE(attr->wLibFlags & LIBFLAG_FCONTROL);

    Bstr name, help, helpFile;
    DWORD context = 1;
    ASSERT_HRESULT_SUCCEEDED(lib_->GetDocumentation(-1, name.out(), help.out(), &context, helpFile.out()));
    EXPECT_EQ(name.view(), L"ValtroveCTL");
    EXPECT_EQ(help.view(), L"Data Retrieval Control");
    EXPECT_EQ(helpFile.view(), L"");

    // _Valtrove, Valtrove, __Valtrove first, then the collection type the properties use.
    const std::vector<std::pair<std::wstring, TYPEKIND>> expected{{L"_Valtrove", TKIND_DISPATCH},
                                                                  {L"Valtrove", TKIND_COCLASS},
                                                                  {L"__Valtrove", TKIND_DISPATCH},
                                                                  {L"Collection", TKIND_DISPATCH}};
    ASSERT_EQ(lib_->GetTypeInfoCount(), expected.size());
    for (UINT i = 0; i < expected.size(); ++i) {
        Bstr typeName;
        lib_->GetDocumentation(static_cast<INT>(i), typeName.out(), nullptr, nullptr, nullptr);
        TYPEKIND kind{};
        ASSERT_HRESULT_SUCCEEDED(lib_->GetTypeInfoType(i, &kind));
        EXPECT_EQ(typeName.view(), expected[i].first) << i;
        EXPECT_EQ(kind, expected[i].second) << i;
    }
}

TEST_F(TypeLibrary, TypeFlagsOfTheThreeDescriptions) {
    GUID guid{};
    TYPEKIND kind{};
    const WORD dual = flagsOf(infoAt(0).get(), &kind, &guid);
    EXPECT_TRUE(IsEqualGUID(guid, IID__Valtrove));
    constexpr WORD dualFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(dual & dualFlags, dualFlags);
    // Automation-compatible: marked on the vtable side of the dual interface.
    HREFTYPE vtableRef = 0;
    ASSERT_HRESULT_SUCCEEDED(infoAt(0)->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef));
    ComPtr<ITypeInfo> vtable;
    ASSERT_HRESULT_SUCCEEDED(infoAt(0)->GetRefTypeInfo(vtableRef, vtable.out()));
    const WORD vtableFlags = flagsOf(vtable.get(), &kind);
    EXPECT_EQ(kind, TKIND_INTERFACE);
    EXPECT_EQ(vtableFlags & (dualFlags | TYPEFLAG_FOLEAUTOMATION), dualFlags | TYPEFLAG_FOLEAUTOMATION);

    const WORD coclass = flagsOf(infoAt(1).get(), &kind, &guid);
    EXPECT_TRUE(IsEqualGUID(guid, CLSID_Valtrove));
    EXPECT_EQ(coclass, TYPEFLAG_FCONTROL) << "control mark only, not creatable";

    const WORD events = flagsOf(infoAt(2).get(), &kind, &guid);
    EXPECT_TRUE(IsEqualGUID(guid, DIID___Valtrove));
    EXPECT_EQ(events & (TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE), TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE);
    EXPECT_FALSE(events & TYPEFLAG_FDUAL);
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(infoAt(2).get()));
    const WORD ownMembers = static_cast<WORD>(attr->cFuncs + attr->cVars);
    EXPECT_EQ(ownMembers, 0) << "the control raises no events";
}

TEST_F(TypeLibrary, ClassImplementsTheDefaultAndSourceInterfaces) {
    ComPtr<ITypeInfo> coclass = infoAt(1);
    ASSERT_TRUE(coclass);
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(coclass.get()));
    const UINT count = attr->cImplTypes;
    ASSERT_EQ(count, 2u);
    const std::vector<std::pair<std::wstring, INT>> expected{
        {L"_Valtrove", IMPLTYPEFLAG_FDEFAULT}, {L"__Valtrove", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < count; ++i) {
        HREFTYPE ref = 0;
        ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref));
        ComPtr<ITypeInfo> implemented;
        ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, implemented.out()));
        Bstr name;
        implemented->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
        INT flags = 0;
        ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(i, &flags));
        EXPECT_EQ(name.view(), expected[i].first);
        EXPECT_EQ(flags, expected[i].second);
    }
}

TEST_F(TypeLibrary, ControlInterfaceSlotsMatchTheMemberTable) {
    // The vtable side of the dual interface, as a client calling through it sees it.
    ComPtr<ITypeInfo> dispatch = infoAt(0);
    HREFTYPE ref = 0;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ComPtr<ITypeInfo> vtable;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetRefTypeInfo(ref, vtable.out()));
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(vtable.get()));
    const UINT functions = attr->cFuncs;
    const TYPEKIND kind = attr->typekind;
    EXPECT_EQ(kind, TKIND_INTERFACE);

    const std::vector<Member>& members = controlMembers();
    ASSERT_EQ(functions, members.size());
    std::set<std::wstring> names;
    for (UINT i = 0; i < functions; ++i) {
        const Member& expected = members[i];
        SCOPED_TRACE(std::wstring(expected.name) + L" slot " + std::to_wstring(i));
        FUNCDESC* func = nullptr;
        ASSERT_HRESULT_SUCCEEDED(vtable->GetFuncDesc(i, &func));
        Bstr name, help, helpFile;
        DWORD context = 99;
        ASSERT_HRESULT_SUCCEEDED(
            vtable->GetDocumentation(func->memid, name.out(), help.out(), &context, helpFile.out()));
        names.emplace(name.view());
        EXPECT_EQ(name.view(), expected.name);
        EXPECT_EQ(func->memid, expected.id);
        EXPECT_EQ(func->invkind, expected.kind);
        EXPECT_EQ(func->callconv, CC_STDCALL);
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(help.view(), expected.help ? expected.help : L"");
        EXPECT_EQ(context, 0u);
        EXPECT_EQ(helpFile.view(), L"");
        ASSERT_EQ(static_cast<size_t>(func->cParams), expected.params.size());
        for (SHORT p = 0; p < func->cParams; ++p) {
            const ELEMDESC& param = func->lprgelemdescParam[p];
            EXPECT_EQ(param.tdesc.vt, expected.params[p].type) << "parameter " << p;
            EXPECT_EQ(param.paramdesc.wParamFlags, expected.params[p].flags) << "parameter " << p;
            EXPECT_EQ(param.tdesc.vt == VT_PTR ? pointee(vtable.get(), param.tdesc) : L"", expected.params[p].pointee)
                << "parameter " << p;
        }
        vtable->ReleaseFuncDesc(func);
    }
    EXPECT_EQ(names.size(), 11u) << "eleven members and no others";

    // Parameter names as a client binding by name sees them.
    const std::map<MEMBERID, std::wstring> parameterNames{
        {0x60030004, L"AddValueName"}, {0x60030005, L"ValueName"}, {0x60030006, L"RemoveValueName"}};
    for (const auto& [id, parameter] : parameterNames) {
        BSTR got[3] = {};
        UINT count = 0;
        ASSERT_HRESULT_SUCCEEDED(vtable->GetNames(id, got, 3, &count));
        ASSERT_GE(count, 2u);
        EXPECT_EQ(std::wstring(got[1]), parameter);
        for (UINT i = 0; i < count; ++i) SysFreeString(got[i]);
    }
}

TEST_F(TypeLibrary, CollectionTypeHasItemAsDefaultMemberAndHiddenEnumerator) {
    ComPtr<ITypeInfo> collection = infoAt(3);
    ASSERT_TRUE(collection);
    const std::map<std::wstring, MEMBERID> ids{
        {L"Item", DISPID_VALUE}, {L"Add", 1}, {L"Count", 2}, {L"Remove", 3}, {L"_NewEnum", DISPID_NEWENUM}};
    for (const auto& [name, id] : ids) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        MEMBERID found = 0;
        ASSERT_HRESULT_SUCCEEDED(collection->GetIDsOfNames(names, 1, &found)) << name;
        EXPECT_EQ(found, id) << name;
    }
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(collection.get()));
    const UINT functions = attr->cFuncs;
    bool sawEnum = false;
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_HRESULT_SUCCEEDED(collection->GetFuncDesc(i, &func));
        if (func->memid == DISPID_NEWENUM) {
            sawEnum = true;
            EXPECT_EQ(func->wFuncFlags & (FUNCFLAG_FRESTRICTED | FUNCFLAG_FHIDDEN),
                      FUNCFLAG_FRESTRICTED | FUNCFLAG_FHIDDEN);
        }
        collection->ReleaseFuncDesc(func);
    }
    EXPECT_TRUE(sawEnum);
}

TEST_F(TypeLibrary, BindingByNameFindsTheDispatchIds) {
    Apartment apartment;
    ComPtr<IDispatch> control = createControl();
    ASSERT_TRUE(control);
    for (const Member& member : controlMembers())
        EXPECT_EQ(dispidOf(control.get(), member.name), member.id) << member.name;
    // Names are not case-sensitive for a host binding by name.
    EXPECT_EQ(dispidOf(control.get(), L"adddatavalue"), 0x60030004);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Text1")};
    DISPID id = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);

    UINT count = 0;
    ASSERT_HRESULT_SUCCEEDED(control->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(control->GetTypeInfo(1, 0, info.out()), DISP_E_BADINDEX);
    ASSERT_HRESULT_SUCCEEDED(control->GetTypeInfo(0, 0, info.out()));
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(info.get()));
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID__Valtrove));
}

// ---- Class factory and module lifetime ------------------------------------------------------

TEST(ComServerLifetime, ClassObjectOnlyForTheControlClass) {
    Apartment apartment;
    const Ocx& ocx = Ocx::get();
    ASSERT_NE(ocx.getClassObject, nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ocx.getClassObject(IID__Valtrove, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ocx.getClassObject(CLSID_Valtrove, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ocx.getClassObject(CLSID_Valtrove, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IClassFactory> factory = classFactory();
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> outer;
    ASSERT_HRESULT_SUCCEEDED(factory->QueryInterface(IID_IUnknown, outer.outVoid()));
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, aggregated.outVoid()), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(aggregated);
    ComPtr<IUnknown> unsupported;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersistFile, unsupported.outVoid()), E_NOINTERFACE);
    EXPECT_FALSE(unsupported);
    EXPECT_EQ(ocx.canUnloadNow(), S_OK) << "a refused creation leaves nothing behind";
}

TEST(ComServerLifetime, ControlAnswersItsInterfacesWithOneIdentity) {
    Apartment apartment;
    ComPtr<IDispatch> control = createControl();
    ASSERT_TRUE(control);
    ComPtr<IUnknown> identity, again;
    ASSERT_HRESULT_SUCCEEDED(control->QueryInterface(IID_IUnknown, identity.outVoid()));
    ComPtr<_Valtrove> typed;
    ASSERT_HRESULT_SUCCEEDED(control->QueryInterface(IID__Valtrove, typed.outVoid()));
    ASSERT_HRESULT_SUCCEEDED(typed->QueryInterface(IID_IUnknown, again.outVoid()));
    EXPECT_EQ(identity.get(), again.get());
    ComPtr<ISupportErrorInfo> errors;
    ASSERT_HRESULT_SUCCEEDED(control->QueryInterface(IID_ISupportErrorInfo, errors.outVoid()));
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Valtrove), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IPersistFile), S_FALSE);
    ComPtr<IUnknown> none;
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(control->QueryInterface(IID_IPersistFile, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(control->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(ComServerLifetime, LockServerAndLiveObjectsKeepTheLibraryLoaded) {
    Apartment apartment;
    const Ocx& ocx = Ocx::get();
    ComPtr<IClassFactory> factory = classFactory();
    ASSERT_TRUE(factory);
    ASSERT_EQ(ocx.canUnloadNow(), S_OK);
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
    EXPECT_EQ(ocx.canUnloadNow(), S_FALSE);
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    EXPECT_EQ(ocx.canUnloadNow(), S_OK);

    ComPtr<IDispatch> control = createControl();
    ASSERT_TRUE(control);
    EXPECT_EQ(ocx.canUnloadNow(), S_FALSE);
    // Collections and enumerators hold the library too, even after the control is gone.
    Call allData = call(control.get(), L"AllData");
    ComPtr<IDispatch> collection = objectResult(allData);
    ASSERT_TRUE(collection);
    allData.result.out();
    control.reset();
    EXPECT_EQ(ocx.canUnloadNow(), S_FALSE);
    Call newEnum = invoke(collection.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET);
    ASSERT_HRESULT_SUCCEEDED(newEnum.hr);
    collection.reset();
    EXPECT_EQ(ocx.canUnloadNow(), S_FALSE);
    newEnum.result.out();
    EXPECT_EQ(ocx.canUnloadNow(), S_OK);
}

TEST(ComServerLifetime, TenThousandCreateReleaseCyclesLeaveNothingAlive) {
    Apartment apartment;
    const Ocx& ocx = Ocx::get();
    ComPtr<IClassFactory> factory = classFactory();
    ASSERT_TRUE(factory);
    for (int i = 0; i < 10000; ++i) {
        ComPtr<_Valtrove> control;
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID__Valtrove, control.outVoid())) << i;
        ComPtr<Collection> values;
        ASSERT_HRESULT_SUCCEEDED(control->get_ValueList(values.out())) << i;
        ComPtr<IUnknown> enumerator;
        ASSERT_HRESULT_SUCCEEDED(values->get__NewEnum(enumerator.out())) << i;
    }
    factory.reset();
    EXPECT_EQ(ocx.canUnloadNow(), S_OK);
}

} // namespace
} // namespace vtc::test
