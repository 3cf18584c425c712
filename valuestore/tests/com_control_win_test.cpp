// The Valtrove control through IDispatch, called the way script hosts call it: the worked examples
// with the data file compared byte for byte, the published collections, by-reference arguments,
// automation errors, the ambiguity warning (the message box, answered as a user would) and bad input.
#include "valuestore/tests/support/com_client.h"
#include "valuestore/tests/support/warning_box.h"

namespace vtc::test {
namespace {

const std::string kDefaultFile = dataFile("(NULL)", "NULL (0)");

class Control : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(apartment_.hr);
        control_ = createControl();
        ASSERT_TRUE(control_);
        path_ = folder_.file(L"values.txt");
        ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(path_).ref()).hr);
    }

    HRESULT run(const wchar_t* method, std::vector<VARIANT> args = {}) {
        Call c = call(control_.get(), method, std::move(args));
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(V_VT(c.result.get()), VT_EMPTY) << "methods give back an empty variant";
        }
        return c.error();
    }
    HRESULT add(const std::wstring& name, const std::wstring& data) {
        EXPECT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(data).ref()).hr);
        return run(L"AddDataValue", {text(name).ref()});
    }
    ComPtr<IDispatch> collection(const wchar_t* property) { return objectResult(call(control_.get(), property)); }
    static LONG count(IDispatch* c) {
        Call got = call(c, L"Count");
        return SUCCEEDED(got.hr) ? V_I4(got.result.get()) : -1;
    }
    static std::wstring item(IDispatch* c, const VARIANT& index) { return call(c, L"Item", {index}).textResult(); }
    std::size_t warnings() const { return boxes_.seen().size(); }

    Apartment apartment_;
    ScratchFolder folder_;
    ComPtr<IDispatch> control_;
    std::wstring path_;
    WarningBoxAnswerer boxes_;
};

TEST_F(Control, NewInstanceDefaults) {
    ComPtr<IDispatch> fresh = createControl();
    Call dataFile = call(fresh.get(), L"DataFile");
    ASSERT_HRESULT_SUCCEEDED(dataFile.hr);
    EXPECT_EQ(dataFile.textResult(), L"*.txt");
    EXPECT_EQ(V_BOOL(call(fresh.get(), L"Enabled").result.get()), VARIANT_TRUE);
    EXPECT_EQ(V_BOOL(call(fresh.get(), L"AutomaticRewrite").result.get()), VARIANT_FALSE);
    Call data = call(fresh.get(), L"NewValueData");
    EXPECT_EQ(V_VT(data.result.get()), VT_BSTR);
    EXPECT_EQ(data.textResult(), L"");
    // Reading a collection never yields nothing.
    ComPtr<IDispatch> all = collection(L"AllData");
    ASSERT_TRUE(all);
    EXPECT_EQ(count(all.get()), 0);

    // With DataFile at "*.txt" a load finds no file, creates none and raises nothing.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(folder_.path().c_str());
    EXPECT_HRESULT_SUCCEEDED(call(fresh.get(), L"GetDataValues").error());
    SetCurrentDirectoryW(current);
    WIN32_FIND_DATAW found;
    const qz::win32::UniqueFind search(FindFirstFileW(folder_.file(L"*.txt").c_str(), &found));
    EXPECT_EQ(search.get(), INVALID_HANDLE_VALUE);
}

TEST_F(Control, WorkedExampleFileBytesAfterEachStep) {
    // First load on a missing file writes the default content and publishes nothing yet.
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_EQ(readBytes(path_), kDefaultFile);
    EXPECT_EQ(count(collection(L"AllData").get()), 0);
    EXPECT_EQ(count(collection(L"ValueList").get()), 0);

    ASSERT_HRESULT_SUCCEEDED(add(L"Speed", L"12"));
    EXPECT_EQ(readBytes(path_), dataFile("(NULL)(Speed)", "NULL (0)Speed (12) "));
    ASSERT_HRESULT_SUCCEEDED(add(L"Mode", L"auto"));
    EXPECT_EQ(readBytes(path_), dataFile("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "));
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"15").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(run(L"RewriteDataValue", {text(L"Speed").ref()}));
    EXPECT_EQ(readBytes(path_), dataFile("(NULL)(Speed)(Mode)", "NULL (0)Speed (15)  Mode (auto) "));
    ASSERT_HRESULT_SUCCEEDED(run(L"RemoveDataValue", {text(L"Speed").ref()}));
    EXPECT_EQ(readBytes(path_), dataFile("(NULL)(Mode)", "NULL (0)  Mode (auto) "));
    EXPECT_EQ(warnings(), 0u);

    // Remove loads again: the collections already lack the removed value.
    ComPtr<IDispatch> names = collection(L"ValueList");
    EXPECT_EQ(enumerate(names.get()), (std::vector<std::wstring>{L"NULL", L"Mode"}));
    EXPECT_EQ(enumerate(collection(L"AllData").get()), (std::vector<std::wstring>{L"0", L"auto"}));

    ASSERT_HRESULT_SUCCEEDED(run(L"ClearAll"));
    EXPECT_EQ(readBytes(path_), kDefaultFile);
    // No load in ClearAll: the collections keep the values of the last load.
    EXPECT_EQ(enumerate(collection(L"ValueList").get()), (std::vector<std::wstring>{L"NULL", L"Mode"}));
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_EQ(enumerate(collection(L"ValueList").get()), std::vector<std::wstring>{L"NULL"});
}

TEST_F(Control, FirstAddOnAMissingFileLeavesOnlyTheNewValue) {
    ASSERT_HRESULT_SUCCEEDED(add(L"Speed", L"12"));
    EXPECT_EQ(readBytes(path_), dataFile("(Speed)", "Speed (12) "));
}

TEST_F(Control, CollectionsFollowLoadsAndKeepTheirOwnState) {
    writeBytes(path_, dataFile("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "));
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    ComPtr<IDispatch> all = collection(L"AllData");
    ComPtr<IDispatch> names = collection(L"ValueList");
    ASSERT_TRUE(all && names);
    EXPECT_EQ(count(all.get()), 3);
    // Keys are found without regard to case; items by 1-based index.
    EXPECT_EQ(item(all.get(), text(L"speed").ref()), L"12");
    EXPECT_EQ(item(all.get(), text(L"MODE").ref()), L"auto");
    EXPECT_EQ(item(all.get(), integer(1).ref()), L"0");
    EXPECT_EQ(item(names.get(), integer(3).ref()), L"Mode");
    // The default member is Item.
    EXPECT_EQ(invoke(all.get(), DISPID{DISPID_VALUE}, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {text(L"NuLl").ref()})
                  .textResult(),
              L"0");

    // An add does not load again: the collections show the store as it was.
    ASSERT_HRESULT_SUCCEEDED(add(L"MaxSpeed", L"90"));
    EXPECT_EQ(count(collection(L"AllData").get()), 3);
    // The next load builds new collections; the host's references keep the old state.
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    ComPtr<IDispatch> reloaded = collection(L"AllData");
    EXPECT_NE(reloaded.get(), all.get());
    EXPECT_EQ(count(reloaded.get()), 4);
    EXPECT_EQ(count(all.get()), 3);
    EXPECT_EQ(item(reloaded.get(), text(L"maxspeed").ref()), L"90");
    // Two loads of an unchanged file give equal collections.
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_EQ(enumerate(collection(L"ValueList").get()), enumerate(collection(L"ValueList").get()));
    EXPECT_EQ(enumerate(collection(L"ValueList").get()),
              (std::vector<std::wstring>{L"NULL", L"Speed", L"Mode", L"MaxSpeed"}));
}

TEST_F(Control, NamesDifferingOnlyInCaseEndTheLoadAtTheSecond) {
    writeBytes(path_, dataFile("(Speed)(SPEED)(Mode)", "Speed (1) SPEED (2) Mode (3) "));
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_EQ(enumerate(collection(L"ValueList").get()), std::vector<std::wstring>{L"Speed"});
    EXPECT_EQ(enumerate(collection(L"AllData").get()), std::vector<std::wstring>{L"1"});
}

TEST_F(Control, HostCanReplaceOrClearTheCollections) {
    writeBytes(path_, kDefaultFile);
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    ComPtr<IDispatch> values = collection(L"ValueList");
    // Set AllData = ValueList's collection: the same object comes back.
    ASSERT_HRESULT_SUCCEEDED(putRef(control_.get(), L"AllData", object(values.get()).ref()).hr);
    EXPECT_EQ(collection(L"AllData").get(), values.get());
    // Set AllData = Nothing: the next read gets a new empty collection, and keeps it.
    ASSERT_HRESULT_SUCCEEDED(putRef(control_.get(), L"AllData", object(nullptr).ref()).hr);
    ComPtr<IDispatch> empty = collection(L"AllData");
    ASSERT_TRUE(empty);
    EXPECT_EQ(count(empty.get()), 0);
    EXPECT_EQ(collection(L"AllData").get(), empty.get());
    // Something that is not a collection is refused, through IDispatch and through the vtable.
    EXPECT_TRUE(FAILED(putRef(control_.get(), L"ValueList", object(control_.get()).ref()).hr));
    EXPECT_EQ(collection(L"ValueList").get(), values.get());
    ComPtr<_Valtrove> typed;
    ASSERT_HRESULT_SUCCEEDED(control_->QueryInterface(IID__Valtrove, typed.outVoid()));
    EXPECT_EQ(typed->putref_ValueList(reinterpret_cast<Collection*>(control_.get())), static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(collection(L"ValueList").get(), values.get());
    // A load replaces whatever the host put there.
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_NE(collection(L"AllData").get(), values.get());
    EXPECT_EQ(count(collection(L"AllData").get()), 1);
}

TEST_F(Control, ScriptHostCallingConventions) {
    writeBytes(path_, kDefaultFile);
    // VBScript passes a variable by reference as VT_BYREF|VT_VARIANT; the name stays as it was.
    Variant name = text(L"Speed");
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"12").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(run(L"AddDataValue", {reference(name)}));
    EXPECT_EQ(std::wstring(V_BSTR(name.get())), L"Speed");
    // A variable holding a number reaches the method as its text.
    Variant number = integer(42);
    ASSERT_HRESULT_SUCCEEDED(run(L"AddDataValue", {reference(number)}));
    EXPECT_EQ(V_VT(number.get()), VT_I4);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"13").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(run(L"RewriteDataValue", {reference(name)}));
    // RemoveDataValue takes its name by value; a reference is read through.
    Variant doomed = text(L"42");
    ASSERT_HRESULT_SUCCEEDED(run(L"RemoveDataValue", {reference(doomed)}));
    // The spacing behind the removed entry stays.
    EXPECT_EQ(readBytes(path_), dataFile("(NULL)(Speed)", "NULL (0)Speed (13)   "));

    // JScript calls getters as methods: _NewEnum and Count.
    ComPtr<IDispatch> names = collection(L"ValueList");
    Call newEnum = invoke(names.get(), DISPID_NEWENUM, DISPATCH_METHOD);
    ASSERT_HRESULT_SUCCEEDED(newEnum.hr);
    EXPECT_EQ(V_VT(newEnum.result.get()), VT_UNKNOWN);
    Call counted = invoke(names.get(), L"Count", DISPATCH_METHOD);
    ASSERT_HRESULT_SUCCEEDED(counted.hr);
    EXPECT_EQ(V_I4(counted.result.get()), 2);
    // And JScript assigns objects with PUT|PUTREF.
    EXPECT_HRESULT_SUCCEEDED(
        invoke(control_.get(), L"AllData", DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF, {object(names.get()).ref()})
            .hr);
}

TEST_F(Control, AmbiguousNamesAreWarnedAndLeaveTheFileUnchanged) {
    writeBytes(path_, dataFile("(NULL)(Speed)", "NULL (0)Speed (12) "));
    const std::string before = readBytes(path_);
    // Taken, or part of a taken name.
    for (const wchar_t* name : {L"Speed", L"Spe", L"ULL"}) {
        ASSERT_HRESULT_SUCCEEDED(add(name, L"99")) << name;
        EXPECT_EQ(readBytes(path_), before) << name;
    }
    EXPECT_EQ(warnings(), 3u);

    // Case-sensitive test: 'speed' and 'MaxSpeed' pass.
    ASSERT_HRESULT_SUCCEEDED(add(L"MaxSpeed", L"1"));
    ASSERT_HRESULT_SUCCEEDED(add(L"speed", L"2"));
    EXPECT_EQ(readBytes(path_),
              dataFile("(NULL)(Speed)(MaxSpeed)(speed)", "NULL (0)Speed (12) MaxSpeed (1) speed (2) "));
    EXPECT_EQ(warnings(), 3u);

    // With AutomaticRewrite the taken name is rewritten instead, and nothing is declared.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(add(L"Speed", L"15"));
    EXPECT_EQ(readBytes(path_),
              dataFile("(NULL)(Speed)(MaxSpeed)(speed)", "NULL (0)Speed (15)  MaxSpeed (1) speed (2) "));
    EXPECT_EQ(warnings(), 3u);
}

// The warning is always the modal message box: no environment variable of the host turns it into
// anything else (an earlier test hook wrote it to the file named by VALTROVE_WARNING_LOG).
TEST_F(Control, WarningIsAlwaysAModalMessageBox) {
    const std::wstring log = folder_.file(L"warnings.log");
    SetEnvironmentVariableW(L"VALTROVE_WARNING_LOG", log.c_str());
    writeBytes(path_, kDefaultFile);
    const HRESULT hr = add(L"NULL", L"1");
    SetEnvironmentVariableW(L"VALTROVE_WARNING_LOG", nullptr);
    EXPECT_HRESULT_SUCCEEDED(hr);
    const std::vector<SeenBox> seen = boxes_.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, L"Valtrove Object Error");
    EXPECT_EQ(seen[0].text, L"Error, Ambiguous or Semi-Ambiguous Value Name");
    EXPECT_TRUE(seen[0].exclamationIcon);
    EXPECT_TRUE(seen[0].okButton);
    EXPECT_FALSE(seen[0].cancelButton);
    EXPECT_EQ(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(readBytes(path_), kDefaultFile);
}

TEST_F(Control, ErrorsReachTheHostWithNumberAndDescription) {
    writeBytes(path_, dataFile("(NULL)(Speed)", "NULL (0)Speed (12"));
    const std::string before = readBytes(path_);
    // A rewrite of an entry without its ')' is an invalid-value error.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"1").ref()).hr);
    Call rewrite = call(control_.get(), L"RewriteDataValue", {text(L"Speed").ref()});
    EXPECT_EQ(rewrite.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(rewrite.exception.scode, static_cast<HRESULT>(0x800A0005));
    EXPECT_NE(rewrite.description().find(L"Invalid procedure call or argument"), std::wstring::npos)
        << rewrite.description();
    EXPECT_EQ(readBytes(path_), before);

    // Through the vtable: the HRESULT, and the error text in the thread's error object.
    ComPtr<_Valtrove> typed;
    ASSERT_HRESULT_SUCCEEDED(control_->QueryInterface(IID__Valtrove, typed.outVoid()));
    BSTR name = SysAllocString(L"a(b");
    Variant result;
    EXPECT_EQ(typed->AddDataValue(&name, result.get()), static_cast<HRESULT>(0x800A0005));
    EXPECT_EQ(std::wstring(name), L"a(b");
    SysFreeString(name);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.out()), S_OK);
    Bstr description;
    info->GetDescription(description.out());
    EXPECT_NE(std::wstring(description.view()).find(L"'('"), std::wstring::npos) << std::wstring(description.view());
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, IID__Valtrove));
    EXPECT_EQ(readBytes(path_), before);

    // Collection errors: out of range, unknown key, duplicate key.
    ComPtr<IDispatch> names = collection(L"ValueList");
    EXPECT_EQ(call(names.get(), L"Item", {integer(0).ref()}).error(), static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(call(names.get(), L"Item", {text(L"nope").ref()}).error(), static_cast<HRESULT>(0x800A0005));
    ASSERT_HRESULT_SUCCEEDED(call(names.get(), L"Add", {text(L"x").ref(), text(L"Key").ref()}).hr);
    Call duplicate = call(names.get(), L"Add", {text(L"y").ref(), text(L"KEY").ref()});
    EXPECT_EQ(duplicate.error(), static_cast<HRESULT>(0x800A01C9));
    EXPECT_NE(duplicate.description().find(L"already associated"), std::wstring::npos);
}

TEST_F(Control, CollectionAddRemoveAndPositions) {
    ComPtr<IDispatch> c = collection(L"AllData");
    ASSERT_TRUE(c);
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Add", {text(L"b").ref(), text(L"kb").ref()}).hr);
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Add", {text(L"a").ref(), text(L"ka").ref(), text(L"KB").ref()}).hr);
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Add", {text(L"c").ref()}).hr);
    Variant missing;
    V_VT(missing.get()) = VT_ERROR;
    V_ERROR(missing.get()) = DISP_E_PARAMNOTFOUND;
    ASSERT_HRESULT_SUCCEEDED(
        call(c.get(), L"Add", {text(L"b2").ref(), missing.ref(), missing.ref(), integer(2).ref()}).hr);
    EXPECT_EQ(enumerate(c.get()), (std::vector<std::wstring>{L"a", L"b", L"b2", L"c"}));
    EXPECT_EQ(item(c.get(), text(L"kb").ref()), L"b");
    // Before and After together, or a position past the end, are refused.
    EXPECT_EQ(call(c.get(), L"Add", {text(L"x").ref(), missing.ref(), integer(1).ref(), integer(1).ref()}).error(),
              static_cast<HRESULT>(0x800A0005));
    EXPECT_EQ(call(c.get(), L"Add", {text(L"x").ref(), missing.ref(), integer(9).ref()}).error(),
              static_cast<HRESULT>(0x800A0009));
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Remove", {text(L"KA").ref()}).hr);
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Remove", {integer(2).ref()}).hr);
    EXPECT_EQ(enumerate(c.get()), (std::vector<std::wstring>{L"b", L"c"}));
    // Keys still find their items after positions moved.
    EXPECT_EQ(item(c.get(), text(L"Kb").ref()), L"b");
    EXPECT_EQ(call(c.get(), L"Remove", {text(L"ka").ref()}).error(), static_cast<HRESULT>(0x800A0005));

    // An enumerator works on the items as they were when it was made.
    Call newEnum = invoke(c.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET);
    ComPtr<IEnumVARIANT> it;
    ASSERT_HRESULT_SUCCEEDED(V_UNKNOWN(newEnum.result.get())->QueryInterface(IID_IEnumVARIANT, it.outVoid()));
    ASSERT_HRESULT_SUCCEEDED(call(c.get(), L"Remove", {integer(1).ref()}).hr);
    VARIANT items[3];
    ULONG fetched = 0;
    EXPECT_EQ(it->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(std::wstring(V_BSTR(&items[0])), L"b");
    EXPECT_EQ(std::wstring(V_BSTR(&items[1])), L"c");
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&items[i]);
    EXPECT_EQ(it->Next(2, items, nullptr), E_INVALIDARG);
    ASSERT_HRESULT_SUCCEEDED(it->Reset());
    EXPECT_EQ(it->Skip(5), S_FALSE);
    ComPtr<IEnumVARIANT> clone;
    ASSERT_HRESULT_SUCCEEDED(it->Clone(clone.out()));
    EXPECT_EQ(clone->Next(1, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
}

TEST_F(Control, TextCrossesToTheAnsiCodePage) {
    const std::wstring data = L"caf\u00e9";
    const std::string ansi = [&] {
        std::string bytes(64, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, data.c_str(), static_cast<int>(data.size()), bytes.data(), 64,
                                          nullptr, nullptr);
        bytes.resize(static_cast<size_t>(n));
        return bytes;
    }();
    ASSERT_HRESULT_SUCCEEDED(add(L"Name", data));
    EXPECT_EQ(readBytes(path_), dataFile("(Name)", "Name (" + ansi + ") "));
    // The property keeps what the host set; the file and the loaded data hold the ANSI text.
    EXPECT_EQ(call(control_.get(), L"NewValueData").textResult(), data);
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    const std::wstring back = item(collection(L"AllData").get(), text(L"name").ref());
    wchar_t expected[64] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), expected, 64);
    EXPECT_EQ(back, std::wstring(expected));
}

TEST_F(Control, BadInputFromAHostNeverCrashesNorTouchesTheFile) {
    writeBytes(path_, dataFile("(NULL)(Speed)", "NULL (0)Speed (12) "));
    const std::string before = readBytes(path_);
    const DISPID add = dispidOf(control_.get(), L"AddDataValue");

    // Wrong variant types, missing and extra arguments.
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    Variant list;
    V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(list.get()) = array;
    EXPECT_TRUE(FAILED(invoke(control_.get(), add, DISPATCH_METHOD, {list.ref()}).hr));
    EXPECT_TRUE(FAILED(invoke(control_.get(), add, DISPATCH_METHOD, {object(nullptr).ref()}).hr));
    EXPECT_EQ(invoke(control_.get(), add, DISPATCH_METHOD).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(FAILED(invoke(control_.get(), add, DISPATCH_METHOD, {text(L"a").ref(), text(L"b").ref()}).hr));
    EXPECT_EQ(invoke(control_.get(), 0x12345, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(control_->Invoke(add, IID_IDispatch, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    // Broken DISPPARAMS and null references.
    DISPPARAMS broken{nullptr, nullptr, 1, 0};
    EXPECT_EQ(control_->Invoke(add, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(control_->Invoke(add, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    VARIANT nullReference;
    V_VT(&nullReference) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&nullReference) = nullptr;
    EXPECT_EQ(invoke(control_.get(), add, DISPATCH_METHOD, {nullReference}).hr, DISP_E_TYPEMISMATCH);
    V_VT(&nullReference) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&nullReference) = nullptr;
    EXPECT_EQ(invoke(control_.get(), add, DISPATCH_METHOD, {nullReference}).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(put(control_.get(), L"DataFile", nullReference).error(), DISP_E_TYPEMISMATCH);
    // Names the store refuses: parentheses, CR, LF, the begin marker.
    for (const wchar_t* name : {L"a(b", L"a)b", L"a\rb", L"a\nb", L"x<BEGINVALUEDECLARE>"}) {
        EXPECT_EQ(invoke(control_.get(), add, DISPATCH_METHOD, {text(name).ref()}).error(),
                  static_cast<HRESULT>(0x800A0005));
        EXPECT_EQ(call(control_.get(), L"RemoveDataValue", {text(name).ref()}).error(),
                  static_cast<HRESULT>(0x800A0005));
    }
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"x)y").ref()).hr);
    EXPECT_EQ(call(control_.get(), L"AddDataValue", {text(L"Other").ref()}).error(), static_cast<HRESULT>(0x800A0005));
    EXPECT_EQ(readBytes(path_), before);

    // A null BSTR is the empty name: taken whenever something is declared (warned, nothing written).
    Variant nullName;
    V_VT(nullName.get()) = VT_BSTR;
    V_BSTR(nullName.get()) = nullptr;
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"1").ref()).hr);
    EXPECT_HRESULT_SUCCEEDED(call(control_.get(), L"AddDataValue", {nullName.ref()}).error());
    EXPECT_EQ(readBytes(path_), before);
    EXPECT_EQ(warnings(), 1u);
    // A one-megabyte name and data are stored and read back.
    const std::wstring big(1 << 20, L'n');
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(std::wstring(1 << 20, L'd')).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(call(control_.get(), L"AddDataValue", {text(big).ref()}).error());
    ASSERT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    EXPECT_EQ(item(collection(L"AllData").get(), text(big).ref()).size(), size_t{1} << 20);
}

TEST_F(Control, DataFileKeepsAnyValueAndReadsItAsAPath) {
    // A number reads back as the same number and is used as a relative path.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", integer(5).ref()).hr);
    Call got = call(control_.get(), L"DataFile");
    EXPECT_EQ(V_VT(got.result.get()), VT_I4);
    EXPECT_EQ(V_I4(got.result.get()), 5);
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.path().c_str()));
    EXPECT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
    SetCurrentDirectoryW(current);
    EXPECT_EQ(readBytes(folder_.file(L"5")), kDefaultFile);

    // Nothing, Null, an object or an array name no file: loads end quietly, nothing is written.
    writeBytes(path_, kDefaultFile);
    Variant null;
    V_VT(null.get()) = VT_NULL;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    Variant list;
    V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(list.get()) = array;
    Variant nothing = object(nullptr);
    Variant self = object(control_.get());
    for (const VARIANT* value : {nothing.get(), null.get(), self.get(), list.get()}) {
        Variant copy;
        VariantCopy(copy.get(), const_cast<VARIANT*>(value));
        ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", copy.ref()).hr);
        EXPECT_EQ(V_VT(call(control_.get(), L"DataFile").result.get()), V_VT(value));
        EXPECT_HRESULT_SUCCEEDED(run(L"GetDataValues"));
        EXPECT_EQ(count(collection(L"AllData").get()), 0);
        EXPECT_HRESULT_SUCCEEDED(add(L"Speed", L"1"));
        EXPECT_HRESULT_SUCCEEDED(run(L"ClearAll"));
    }
    // Storing the control in its own DataFile would hold it forever: drop it.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(path_).ref()).hr);
    EXPECT_EQ(readBytes(path_), kDefaultFile);

    // A VT_BYREF value is stored by value.
    Variant target = text(path_);
    VARIANT byRef;
    V_VT(&byRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byRef) = target.get();
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", byRef).hr);
    target = text(L"elsewhere");
    EXPECT_EQ(call(control_.get(), L"DataFile").textResult(), path_);
}

} // namespace
} // namespace vtc::test
