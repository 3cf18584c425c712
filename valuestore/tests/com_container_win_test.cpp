// The Valtrove control seen by a container: property-bag and stream persistence (keys, order,
// defaults, value types), property-changed notifications, class information, the fixed extent,
// and site/activate/close cycles.
#include "valuestore/tests/support/com_client.h"

#include <string>
#include <utility>

namespace vtc::test {
namespace {

constexpr DISPID kEnabled = 0x68030002, kDataFile = 0x68030001, kAutomaticRewrite = 0x68030000;

// A notification sink that records the changes and counts the references the control holds.
class RecordingSink final : public StackObject<RecordingSink, IPropertyNotifySink> {
public:
    std::vector<DISPID> changed;
    static InterfaceTable<RecordingSink> interfaces() {
        static constexpr InterfaceEntry<RecordingSink> table[] = {entry<IPropertyNotifySink>(IID_IPropertyNotifySink)};
        return table;
    }
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override {
        changed.push_back(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
};

class Container : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(apartment_.hr);
        control_ = createControl();
        ASSERT_TRUE(control_);
    }
    Variant property(const wchar_t* name) { return std::move(call(control_.get(), name).result); }

    Apartment apartment_;
    ComPtr<IDispatch> control_;
};

TEST_F(Container, SaveWritesTheThreeKeysInOrderWithTheirTypes) {
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", integer(5).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    auto persist = as<IPersistPropertyBag>(control_.get(), IID_IPersistPropertyBag);
    ASSERT_TRUE(persist);
    RecordingBag bag;
    ASSERT_HRESULT_SUCCEEDED(persist->Save(&bag, TRUE, FALSE));
    ASSERT_EQ(bag.writes.size(), 3u);
    EXPECT_EQ(bag.writes[0].first, L"Enabled");
    EXPECT_EQ(V_VT(bag.writes[0].second.get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(bag.writes[0].second.get()), VARIANT_FALSE);
    EXPECT_EQ(bag.writes[1].first, L"DataFile");
    EXPECT_EQ(V_VT(bag.writes[1].second.get()), VT_I4) << "the stored variant, unchanged";
    EXPECT_EQ(V_I4(bag.writes[1].second.get()), 5);
    EXPECT_EQ(bag.writes[2].first, L"AutomaticRewrite");
    EXPECT_EQ(V_VT(bag.writes[2].second.get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(bag.writes[2].second.get()), VARIANT_TRUE);
}

TEST_F(Container, ValuesEqualToTheirDefaultsAreWrittenOnlyWhenAllAreAsked) {
    auto persist = as<IPersistPropertyBag>(control_.get(), IID_IPersistPropertyBag);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(persist->InitNew());
    RecordingBag changedOnly;
    ASSERT_HRESULT_SUCCEEDED(persist->Save(&changedOnly, TRUE, FALSE));
    EXPECT_TRUE(changedOnly.writes.empty());
    RecordingBag all;
    ASSERT_HRESULT_SUCCEEDED(persist->Save(&all, TRUE, TRUE));
    ASSERT_EQ(all.writes.size(), 3u);
    EXPECT_EQ(std::wstring(V_BSTR(all.writes[1].second.get())), L"*.txt");
    EXPECT_EQ(V_BOOL(all.writes[2].second.get()), VARIANT_FALSE);
}

TEST_F(Container, LoadReadsInOrderAndAnEmptyBagGivesTheNewInstanceState) {
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(L"other.txt").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    auto persist = as<IPersistPropertyBag>(control_.get(), IID_IPersistPropertyBag);
    RecordingBag empty;
    ASSERT_HRESULT_SUCCEEDED(persist->Load(&empty, nullptr));
    EXPECT_EQ(empty.reads, (std::vector<std::wstring>{L"Enabled", L"DataFile", L"AutomaticRewrite"}));
    EXPECT_EQ(V_BOOL(property(L"Enabled").get()), VARIANT_TRUE);
    EXPECT_EQ(std::wstring(V_BSTR(property(L"DataFile").get())), L"*.txt");
    EXPECT_EQ(V_BOOL(property(L"AutomaticRewrite").get()), VARIANT_FALSE);

    RecordingBag saved;
    saved.hold(L"Enabled", boolean(false));
    saved.hold(L"DataFile", integer(7));
    Variant one;
    V_VT(one.get()) = VT_I2;
    V_I2(one.get()) = 1;
    saved.hold(L"AutomaticRewrite", std::move(one));
    ASSERT_HRESULT_SUCCEEDED(persist->Load(&saved, nullptr));
    EXPECT_EQ(V_BOOL(property(L"Enabled").get()), VARIANT_FALSE);
    Variant dataFile = property(L"DataFile");
    EXPECT_EQ(V_VT(dataFile.get()), VT_I4);
    EXPECT_EQ(V_I4(dataFile.get()), 7);
    EXPECT_EQ(V_BOOL(property(L"AutomaticRewrite").get()), VARIANT_TRUE);
}

TEST_F(Container, ABadValueFailsTheLoadAndKeepsWhatWasAppliedBeforeIt) {
    auto persist = as<IPersistPropertyBag>(control_.get(), IID_IPersistPropertyBag);
    RecordingBag badEnabled;
    badEnabled.hold(L"Enabled", text(L"maybe"));
    badEnabled.hold(L"DataFile", text(L"never.txt"));
    EXPECT_EQ(persist->Load(&badEnabled, nullptr), static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(std::wstring(V_BSTR(property(L"DataFile").get())), L"*.txt") << "DataFile comes after Enabled";

    RecordingBag badRewrite;
    badRewrite.hold(L"Enabled", boolean(false));
    badRewrite.hold(L"DataFile", text(L"kept.txt"));
    badRewrite.hold(L"AutomaticRewrite", text(L"perhaps"));
    EXPECT_EQ(persist->Load(&badRewrite, nullptr), static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(V_BOOL(property(L"Enabled").get()), VARIANT_FALSE);
    EXPECT_EQ(std::wstring(V_BSTR(property(L"DataFile").get())), L"kept.txt");
    EXPECT_EQ(V_BOOL(property(L"AutomaticRewrite").get()), VARIANT_FALSE);
}

TEST_F(Container, HostWritesNotifyByDispatchIdAndLoadsDoNot) {
    auto points = as<IConnectionPointContainer>(control_.get(), IID_IConnectionPointContainer);
    ASSERT_TRUE(points);
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(points->FindConnectionPoint(IID_IPropertyNotifySink, point.out()));
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(&sink, &cookie));
    auto stream = as<IPersistStreamInit>(control_.get(), IID_IPersistStreamInit);
    EXPECT_EQ(stream->IsDirty(), S_FALSE);

    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(L"x.txt").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"NewValueData", text(L"not persisted").ref()).hr);
    EXPECT_EQ(sink.changed, (std::vector<DISPID>{kEnabled, kDataFile, kAutomaticRewrite}));
    EXPECT_EQ(stream->IsDirty(), S_OK);

    RecordingBag bag;
    bag.hold(L"DataFile", text(L"y.txt"));
    ASSERT_HRESULT_SUCCEEDED(as<IPersistPropertyBag>(control_.get(), IID_IPersistPropertyBag)->Load(&bag, nullptr));
    ASSERT_HRESULT_SUCCEEDED(stream->InitNew());
    EXPECT_EQ(sink.changed.size(), 3u) << "no notification during load or initialisation";
    EXPECT_EQ(stream->IsDirty(), S_FALSE);

    ASSERT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(true).ref()).hr);
    EXPECT_EQ(sink.changed.size(), 3u);

    // The event source exists and has nothing to say; other interfaces have no connection point.
    ComPtr<IConnectionPoint> events;
    EXPECT_HRESULT_SUCCEEDED(points->FindConnectionPoint(DIID___Valtrove, events.out()));
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(points->FindConnectionPoint(IID_IDispatch, none.out()), CONNECT_E_NOCONNECTION);
    ComPtr<IEnumConnectionPoints> all;
    ASSERT_HRESULT_SUCCEEDED(points->EnumConnectionPoints(all.out()));
    IConnectionPoint* found[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(3, found, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i) found[i]->Release();
}

// The COM identity of an object.
ComPtr<IUnknown> identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    if (object) object->QueryInterface(IID_IUnknown, unknown.outVoid());
    return unknown;
}

// Two sinks advised on the control's IPropertyNotifySink point, and an enumerator of its
// connections made then.
class Connections : public Container {
protected:
    using Seen = std::vector<std::pair<DWORD, IUnknown*>>;

    void SetUp() override {
        Container::SetUp();
        if (HasFatalFailure()) return;
        points_ = as<IConnectionPointContainer>(control_.get(), IID_IConnectionPointContainer);
        ASSERT_TRUE(points_);
        ASSERT_HRESULT_SUCCEEDED(points_->FindConnectionPoint(IID_IPropertyNotifySink, point_.out()));
        ASSERT_HRESULT_SUCCEEDED(point_->Advise(&first_, &cookies_[0]));
        ASSERT_HRESULT_SUCCEEDED(point_->Advise(&second_, &cookies_[1]));
        ASSERT_HRESULT_SUCCEEDED(point_->EnumConnections(connections_.out()));
        ASSERT_TRUE(connections_);
    }
    // The control lets go of the sinks before they go.
    void TearDown() override {
        connections_.reset();
        point_.reset();
        points_.reset();
        control_.reset();
    }
    // Releases what Next handed out, and gives the cookies and identities seen.
    static Seen take(const CONNECTDATA* data, ULONG count) {
        Seen seen;
        for (ULONG i = 0; i < count; ++i) {
            seen.emplace_back(data[i].dwCookie, identity(data[i].pUnk).get());
            data[i].pUnk->Release();
        }
        return seen;
    }
    std::pair<DWORD, IUnknown*> first() { return {cookies_[0], identity(&first_).get()}; }
    std::pair<DWORD, IUnknown*> second() { return {cookies_[1], identity(&second_).get()}; }

    RecordingSink first_, second_;
    DWORD cookies_[2] = {};
    ComPtr<IConnectionPointContainer> points_;
    ComPtr<IConnectionPoint> point_;
    ComPtr<IEnumConnections> connections_;
    CONNECTDATA data_[3] = {};
};

TEST_F(Connections, NextCloneAndSkipWalkTheAdvisesInOrder) {
    ULONG fetched = 99;
    EXPECT_EQ(connections_->Next(3, data_, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(take(data_, fetched), (Seen{first(), second()}));

    // Without a count only one element may be asked for.
    ASSERT_HRESULT_SUCCEEDED(connections_->Reset());
    EXPECT_EQ(connections_->Next(2, data_, nullptr), E_POINTER);
    ASSERT_EQ(connections_->Next(1, data_, nullptr), S_OK);
    EXPECT_EQ(take(data_, 1), (Seen{first()}));

    // A clone goes on from the same place, on its own.
    ComPtr<IEnumConnections> clone;
    ASSERT_HRESULT_SUCCEEDED(connections_->Clone(clone.out()));
    ASSERT_EQ(clone->Next(1, data_, nullptr), S_OK);
    EXPECT_EQ(take(data_, 1), (Seen{second()}));
    EXPECT_EQ(clone->Next(1, data_, nullptr), S_FALSE);
    ASSERT_EQ(connections_->Next(1, data_, nullptr), S_OK);
    EXPECT_EQ(take(data_, 1), (Seen{second()}));

    ASSERT_HRESULT_SUCCEEDED(connections_->Reset());
    EXPECT_EQ(connections_->Skip(1), S_OK);
    ASSERT_EQ(connections_->Next(1, data_, nullptr), S_OK);
    EXPECT_EQ(take(data_, 1), (Seen{second()}));
    EXPECT_EQ(connections_->Skip(1), S_FALSE);
}

TEST_F(Connections, UnadvisingChangesLaterEnumerationsOnlyAndAnEnumeratorHoldsTheLibrary) {
    ComPtr<IEnumConnections> clone;
    ASSERT_HRESULT_SUCCEEDED(connections_->Clone(clone.out()));
    ASSERT_HRESULT_SUCCEEDED(point_->Unadvise(cookies_[0]));
    ASSERT_HRESULT_SUCCEEDED(point_->Unadvise(cookies_[1]));
    ULONG fetched = 0;
    EXPECT_EQ(clone->Next(3, data_, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(take(data_, fetched), (Seen{first(), second()}));
    ComPtr<IEnumConnections> after;
    ASSERT_HRESULT_SUCCEEDED(point_->EnumConnections(after.out()));
    EXPECT_EQ(after->Next(1, data_, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    // Only the snapshots hold the sinks now; an enumerator keeps the library loaded.
    EXPECT_GT(first_.refs, 0);
    point_.reset();
    points_.reset();
    control_.reset();
    after.reset();
    connections_.reset();
    EXPECT_EQ(Ocx::get().canUnloadNow(), S_FALSE);
    clone.reset();
    EXPECT_EQ(first_.refs, 0);
    EXPECT_EQ(second_.refs, 0);
    EXPECT_EQ(Ocx::get().canUnloadNow(), S_OK);
}

TEST_F(Container, StreamRoundTripKeepsValuesAndTypes) {
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    Variant number;
    V_VT(number.get()) = VT_R8;
    V_R8(number.get()) = 3.5;
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", number.ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    auto persist = as<IPersistStreamInit>(control_.get(), IID_IPersistStreamInit);
    ComPtr<IStream> stream;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(stream.get(), TRUE));
    ULARGE_INTEGER size{}, end{};
    ASSERT_HRESULT_SUCCEEDED(persist->GetSizeMax(&size));
    ASSERT_HRESULT_SUCCEEDED(stream->Seek({}, STREAM_SEEK_CUR, &end));
    EXPECT_EQ(size.QuadPart, end.QuadPart);

    ComPtr<IDispatch> other = createControl();
    ASSERT_HRESULT_SUCCEEDED(stream->Seek({}, STREAM_SEEK_SET, nullptr));
    ASSERT_HRESULT_SUCCEEDED(as<IPersistStreamInit>(other.get(), IID_IPersistStreamInit)->Load(stream.get()));
    EXPECT_EQ(V_BOOL(call(other.get(), L"Enabled").result.get()), VARIANT_FALSE);
    Call dataFile = call(other.get(), L"DataFile");
    EXPECT_EQ(V_VT(dataFile.result.get()), VT_R8);
    EXPECT_EQ(V_R8(dataFile.result.get()), 3.5);
    EXPECT_EQ(V_BOOL(call(other.get(), L"AutomaticRewrite").result.get()), VARIANT_TRUE);

    // A text DataFile, and a stream that is not ours.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(L"values.txt").ref()).hr);
    ComPtr<IStream> second;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, second.out()));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(second.get(), TRUE));
    ASSERT_HRESULT_SUCCEEDED(second->Seek({}, STREAM_SEEK_SET, nullptr));
    ASSERT_HRESULT_SUCCEEDED(as<IPersistStreamInit>(other.get(), IID_IPersistStreamInit)->Load(second.get()));
    EXPECT_EQ(call(other.get(), L"DataFile").textResult(), L"values.txt");
    ComPtr<IStream> junk;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, junk.out()));
    ULONG written = 0;
    junk->Write("not a control", 13, &written);
    junk->Seek({}, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(persist->Load(junk.get())));
    // An object cannot go into a stream.
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", object(other.get()).ref()).hr);
    EXPECT_EQ(persist->Save(second.get(), TRUE), STG_E_CANTSAVE);
}

// A compound document in memory.
ComPtr<IStorage> newStorage() {
    ComPtr<ILockBytes> bytes;
    ComPtr<IStorage> storage;
    if (SUCCEEDED(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.out())))
        StgCreateDocfileOnILockBytes(bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                     storage.out());
    return storage;
}

// The whole content of a stream, from its start.
std::string streamBytes(IStream* stream) {
    std::string bytes;
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    char buffer[256];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0) bytes.append(buffer, read);
    return bytes;
}

TEST_F(Container, StorageKeepsTheStreamLayoutInContentsAndLoadsIntoAFreshInstance) {
    auto persist = as<IPersistStorage>(control_.get(), IID_IPersistStorage);
    ASSERT_TRUE(persist);
    CLSID clsid{};
    ASSERT_HRESULT_SUCCEEDED(persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Valtrove));
    ComPtr<IStorage> document = newStorage();
    ASSERT_TRUE(document);
    ASSERT_HRESULT_SUCCEEDED(persist->InitNew(document.get()));
    EXPECT_EQ(persist->InitNew(document.get()), CO_E_ALREADYINITIALIZED);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(L"kept.txt").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ASSERT_HRESULT_SUCCEEDED(persist->Save(document.get(), TRUE));
    EXPECT_EQ(persist->IsDirty(), S_FALSE) << "saved into its own storage";
    ASSERT_HRESULT_SUCCEEDED(persist->SaveCompleted(nullptr));
    ASSERT_HRESULT_SUCCEEDED(document->Commit(STGC_DEFAULT));

    // "Contents" holds exactly what IPersistStreamInit writes.
    ComPtr<IStream> contents;
    ASSERT_HRESULT_SUCCEEDED(
        document->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.out()));
    ComPtr<IStream> plain;
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, plain.out()));
    ASSERT_HRESULT_SUCCEEDED(as<IPersistStreamInit>(control_.get(), IID_IPersistStreamInit)->Save(plain.get(), FALSE));
    EXPECT_EQ(streamBytes(contents.get()), streamBytes(plain.get()));
    contents.reset();

    // A storage without that stream fails the load and leaves the instance to be loaded again.
    ComPtr<IDispatch> other = createControl();
    auto otherPersist = as<IPersistStorage>(other.get(), IID_IPersistStorage);
    ComPtr<IStorage> empty = newStorage();
    EXPECT_EQ(otherPersist->Load(empty.get()), STG_E_FILENOTFOUND);
    ASSERT_HRESULT_SUCCEEDED(otherPersist->Load(document.get()));
    EXPECT_EQ(V_BOOL(call(other.get(), L"Enabled").result.get()), VARIANT_FALSE);
    EXPECT_EQ(call(other.get(), L"DataFile").textResult(), L"kept.txt");
    EXPECT_EQ(V_BOOL(call(other.get(), L"AutomaticRewrite").result.get()), VARIANT_TRUE);
    EXPECT_EQ(otherPersist->IsDirty(), S_FALSE);
    EXPECT_EQ(otherPersist->Load(document.get()), CO_E_ALREADYINITIALIZED);

    // InitNew gives the state of a new instance, whatever was set before.
    ComPtr<IDispatch> third = createControl();
    ASSERT_HRESULT_SUCCEEDED(put(third.get(), L"Enabled", boolean(false).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(third.get(), L"DataFile", text(L"gone.txt").ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(third.get(), L"AutomaticRewrite", boolean(true).ref()).hr);
    auto thirdPersist = as<IPersistStorage>(third.get(), IID_IPersistStorage);
    ASSERT_HRESULT_SUCCEEDED(thirdPersist->InitNew(empty.get()));
    EXPECT_EQ(V_BOOL(call(third.get(), L"Enabled").result.get()), VARIANT_TRUE);
    EXPECT_EQ(call(third.get(), L"DataFile").textResult(), L"*.txt");
    EXPECT_EQ(V_BOOL(call(third.get(), L"AutomaticRewrite").result.get()), VARIANT_FALSE);
    EXPECT_EQ(thirdPersist->IsDirty(), S_FALSE);
}

TEST_F(Container, StorageSaveAsAndSaveCopyFollowTheContainersProtocol) {
    auto persist = as<IPersistStorage>(control_.get(), IID_IPersistStorage);
    ComPtr<IStorage> document = newStorage(), copy = newStorage(), renamed = newStorage();
    ASSERT_HRESULT_SUCCEEDED(persist->InitNew(document.get()));
    EXPECT_EQ(persist->SaveCompleted(nullptr), E_UNEXPECTED) << "no save to complete";
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(L"changed.txt").ref()).hr);

    // A copy elsewhere leaves the changes unsaved.
    ASSERT_HRESULT_SUCCEEDED(persist->Save(copy.get(), FALSE));
    ASSERT_HRESULT_SUCCEEDED(persist->SaveCompleted(nullptr));
    EXPECT_EQ(persist->IsDirty(), S_OK);

    // Hands off from normal: a storage must come back, a copy of the old one.
    ASSERT_HRESULT_SUCCEEDED(persist->HandsOffStorage());
    EXPECT_EQ(persist->SaveCompleted(nullptr), E_INVALIDARG);
    ASSERT_HRESULT_SUCCEEDED(persist->SaveCompleted(document.get()));
    EXPECT_EQ(persist->IsDirty(), S_OK);

    // Save as: saved, released, and the new storage handed over.
    ASSERT_HRESULT_SUCCEEDED(persist->Save(renamed.get(), FALSE));
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ASSERT_HRESULT_SUCCEEDED(persist->HandsOffStorage());
    EXPECT_EQ(persist->SaveCompleted(nullptr), E_INVALIDARG);
    ASSERT_HRESULT_SUCCEEDED(persist->SaveCompleted(renamed.get()));
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    ComPtr<IDispatch> other = createControl();
    ASSERT_HRESULT_SUCCEEDED(as<IPersistStorage>(other.get(), IID_IPersistStorage)->Load(renamed.get()));
    EXPECT_EQ(call(other.get(), L"DataFile").textResult(), L"changed.txt");
}

TEST_F(Container, ExtentIsAlways480By480Twips) {
    auto ole = as<IOleObject>(control_.get(), IID_IOleObject);
    ASSERT_TRUE(ole);
    const LONG himetric480Twips = MulDiv(480, 2540, 1440); // 846.67 rounds to 847
    SIZEL asked{MulDiv(2000, 2540, 1440), MulDiv(100, 2540, 1440)};
    EXPECT_HRESULT_SUCCEEDED(ole->SetExtent(DVASPECT_CONTENT, &asked));
    SIZEL size{};
    ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(size.cx, himetric480Twips);
    EXPECT_EQ(size.cy, himetric480Twips);
    DWORD status = 0;
    ASSERT_HRESULT_SUCCEEDED(ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(status, 0x20591u);
    CLSID clsid{};
    ASSERT_HRESULT_SUCCEEDED(ole->GetUserClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Valtrove));

    auto info = as<IProvideClassInfo2>(control_.get(), IID_IProvideClassInfo2);
    ASSERT_TRUE(info);
    GUID source{};
    ASSERT_HRESULT_SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_TRUE(IsEqualGUID(source, DIID___Valtrove));
    ComPtr<ITypeInfo> coclass;
    ASSERT_HRESULT_SUCCEEDED(info->GetClassInfo(coclass.out()));
    TypeAttributes attr;
    ASSERT_HRESULT_SUCCEEDED(attr.load(coclass.get()));
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_Valtrove));
}

// What a client site answers when it has nothing to offer: no moniker, no container.
class ClientSiteBase : public IOleClientSite {
public:
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
};

// A client site that only exists.
class Site final : public StackObject<Site, ClientSiteBase> {
public:
    static InterfaceTable<Site> interfaces() {
        static constexpr InterfaceEntry<Site> table[] = {entry<IOleClientSite>(IID_IOleClientSite)};
        return table;
    }
};

// An in-place site on a window of the test, answering the ambient UserMode.
class InPlaceSite final : public StackObject<InPlaceSite, ClientSiteBase, IOleInPlaceSite, IDispatch> {
public:
    HWND parent = nullptr;
    bool userMode = false;
    int activations = 0;
    int deactivations = 0;

    static InterfaceTable<InPlaceSite> interfaces() {
        static constexpr InterfaceEntry<InPlaceSite> table[] = {
            entry<IOleClientSite>(IID_IOleClientSite), entry<IOleInPlaceSite>(IID_IOleInPlaceSite),
            entry<IOleInPlaceSite>(IID_IOleWindow), entry<IDispatch>(IID_IDispatch)};
        return table;
    }
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = parent;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        ++activations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = nullptr;
        *document = nullptr;
        *position = RECT{10, 20, 510, 220}; // asks for 500 by 200 pixels
        *clip = *position;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        ++deactivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
    // IDispatch: the ambient properties
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
        V_VT(result) = VT_BOOL;
        V_BOOL(result) = userMode ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
};

int controlPixels() {
    const qz::win32::WindowDc screen(nullptr);
    return MulDiv(480, GetDeviceCaps(screen.get(), LOGPIXELSX), 1440);
}

// The control sited on a form of the test, through an in-place site.
class InPlace : public Container {
protected:
    void SetUp() override {
        Container::SetUp();
        if (HasFatalFailure()) return;
        site_.parent = CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr, nullptr,
                                       nullptr, nullptr);
        ASSERT_NE(site_.parent, nullptr);
        ole_ = as<IOleObject>(control_.get(), IID_IOleObject);
        ASSERT_TRUE(ole_);
        ASSERT_HRESULT_SUCCEEDED(ole_->SetClientSite(&site_));
    }
    // The control lets go of the site before it goes.
    void TearDown() override {
        if (ole_) {
            EXPECT_HRESULT_SUCCEEDED(ole_->SetClientSite(nullptr));
        }
        ole_.reset();
        control_.reset();
        if (site_.parent) DestroyWindow(site_.parent);
    }
    // Runs verb on the form; gives the control's window.
    HWND doVerb(LONG verb) {
        HWND window = nullptr;
        EXPECT_HRESULT_SUCCEEDED(ole_->DoVerb(verb, nullptr, &site_, 0, site_.parent, nullptr));
        EXPECT_HRESULT_SUCCEEDED(as<IOleWindow>(control_.get(), IID_IOleWindow)->GetWindow(&window));
        return window;
    }
    // A click in the control's window: the result of its button-up message.
    static HRESULT click(HWND window) {
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        return static_cast<HRESULT>(SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)));
    }

    InPlaceSite site_;
    ComPtr<IOleObject> ole_;
};

TEST_F(InPlace, ActivationGivesAFixedSizeWindowThatHoldsEnabledAndReloadsOnClick) {
    ScratchFolder folder;
    const std::wstring path = folder.file(L"values.txt");
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(path).ref()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(false).ref()).hr);
    const HWND window = doVerb(OLEIVERB_INPLACEACTIVATE);
    EXPECT_EQ(site_.activations, 1);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), site_.parent);
    EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) << "shown while the form is designed";
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, controlPixels());
    EXPECT_EQ(rect.bottom - rect.top, controlPixels());
    auto inPlace = as<IOleInPlaceObject>(control_.get(), IID_IOleInPlaceObject);
    const RECT big{0, 0, 2000, 100};
    ASSERT_HRESULT_SUCCEEDED(inPlace->SetObjectRects(&big, &big));
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, controlPixels());

    // Enabled is the window's enabled state.
    EXPECT_FALSE(IsWindowEnabled(window));
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"Enabled", boolean(true).ref()).hr);
    EXPECT_TRUE(IsWindowEnabled(window));
    EnableWindow(window, FALSE);
    EXPECT_EQ(V_BOOL(call(control_.get(), L"Enabled").result.get()), VARIANT_FALSE);

    // A click reloads the values: the missing data file gets its default content.
    click(window);
    EXPECT_EQ(readBytes(path), dataFile("(NULL)", "NULL (0)"));

    ASSERT_HRESULT_SUCCEEDED(inPlace->InPlaceDeactivate());
    EXPECT_EQ(site_.deactivations, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(V_BOOL(call(control_.get(), L"Enabled").result.get()), VARIANT_FALSE) << "kept without a window";
}

TEST_F(InPlace, AtRunTimeTheWindowIsNotShownAndCloseEndsIt) {
    site_.userMode = true;
    const HWND hidden = doVerb(OLEIVERB_SHOW);
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(GetWindowLongW(hidden, GWL_STYLE) & WS_VISIBLE);
    ASSERT_HRESULT_SUCCEEDED(ole_->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(IsWindow(hidden));
}

// A folder in which nobody may create files: the system's /sys as Wine shows it. (A folder made
// read-only on the Unix side does not stop root, as whom the tests may run.) Empty outside Wine.
std::wstring writeRefusingFolder() {
    using DosName = WCHAR*(CDECL*)(LPCSTR);
    const auto dosName = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR* name = dosName ? dosName("/sys") : nullptr;
    if (!name) return {};
    std::wstring folder(name);
    HeapFree(GetProcessHeap(), 0, name);
    return folder;
}

// The thread's error object: its description, or "(none)".
std::wstring threadError() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info) return L"(none)";
    Bstr description;
    info->GetDescription(description.out());
    return std::wstring(description.view());
}

TEST_F(InPlace, AClickThatFailsToReloadGivesTheErrorBackToTheContainer) {
    const std::wstring refusing = writeRefusingFolder();
    if (refusing.empty()) GTEST_SKIP() << "needs a folder that refuses new files (Wine's view of /sys)";
    const std::wstring unwritable = refusing + L"\\vtc-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_FALSE(fileExists(unwritable));
    ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(unwritable).ref()).hr);
    const HWND window = doVerb(OLEIVERB_INPLACEACTIVATE);
    ASSERT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);

    // The missing file cannot get its default content: the host's own call fails ("Permission
    // denied" where the folder refuses with EACCES; a read-only mount gives another file error),
    // and the click gives the container that same error.
    Call host = call(control_.get(), L"GetDataValues");
    const HRESULT refused = host.error();
    const std::wstring refusedText = host.description();
    ASSERT_TRUE(FAILED(refused));
    ASSERT_FALSE(refusedText.empty());
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(click(window), refused);
    EXPECT_EQ(threadError(), refusedText);

    // The same through a message loop: DispatchMessage gives the window procedure's result.
    PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, window, WM_LBUTTONUP, WM_LBUTTONUP, PM_REMOVE));
    EXPECT_EQ(static_cast<HRESULT>(DispatchMessageW(&message)), refused);
    EXPECT_EQ(threadError(), refusedText);

    // A missing folder stays quiet, and a reload that works returns 0 and leaves no error object,
    // not even one set before it.
    ScratchFolder folder;
    ComPtr<ICreateErrorInfo> stale;
    ASSERT_HRESULT_SUCCEEDED(CreateErrorInfo(stale.out()));
    ComPtr<IErrorInfo> staleInfo = as<IErrorInfo>(stale.get(), IID_IErrorInfo);
    for (const std::wstring& path : {folder.file(L"absent\\values.txt"), folder.file(L"values.txt")}) {
        ASSERT_HRESULT_SUCCEEDED(put(control_.get(), L"DataFile", text(path).ref()).hr);
        SetErrorInfo(0, staleInfo.get());
        EXPECT_EQ(click(window), S_OK) << path;
        EXPECT_EQ(threadError(), L"(none)");
    }
    EXPECT_EQ(readBytes(folder.file(L"values.txt")), dataFile("(NULL)", "NULL (0)"));
    ASSERT_HRESULT_SUCCEEDED(ole_->Close(OLECLOSE_NOSAVE));
}

TEST_F(Container, DrawShowsTheToolboxPicture) {
    auto view = as<IViewObject2>(control_.get(), IID_IViewObject2);
    ASSERT_TRUE(view);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -15; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const qz::win32::UniqueDc memory(CreateCompatibleDC(nullptr));
    const HDC dc = memory.get();
    const qz::win32::UniqueBitmap target(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(target);
    const qz::win32::SelectedObject selected(dc, target.get());
    const RECTL bounds{0, 0, 16, 15};
    ASSERT_HRESULT_SUCCEEDED(
        view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(192, 192, 192));
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(0, 0, 128));
    EXPECT_EQ(GetPixel(dc, 5, 2), RGB(0, 96, 255));
    EXPECT_EQ(GetPixel(dc, 3, 5), RGB(192, 0, 0));
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    SIZEL size{};
    ASSERT_HRESULT_SUCCEEDED(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size));
    EXPECT_EQ(size.cx, MulDiv(480, 2540, 1440));
}

TEST_F(Container, TenThousandSiteActivateCloseReleaseCyclesLeaveNothingAlive) {
    control_.reset();
    Site site;
    ComPtr<IClassFactory> factory = classFactory();
    ASSERT_TRUE(factory);
    for (int i = 0; i < 10000; ++i) {
        ComPtr<IOleObject> ole;
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IOleObject, ole.outVoid())) << i;
        ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(&site));
        ASSERT_HRESULT_SUCCEEDED(as<IPersistStreamInit>(ole.get(), IID_IPersistStreamInit)->InitNew());
        ASSERT_HRESULT_SUCCEEDED(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr));
        ASSERT_HRESULT_SUCCEEDED(ole->Close(OLECLOSE_NOSAVE));
        ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(nullptr));
    }
    factory.reset();
    EXPECT_EQ(site.refs, 0);
    EXPECT_EQ(Ocx::get().canUnloadNow(), S_OK);
}

} // namespace
} // namespace vtc::test
