// The container side of the Valtrove control: property persistence (property bag, stream, and that
// stream in a compound document's storage), property-changed notifications through connection
// points, class information, and the OLE object's site, fixed extent and status.
#include "valuestore/com/control.h"

#include <olectl.h>

#include <cstring>
#include <vector>

namespace vtc {
namespace {

// The defaults handed over with each key: Enabled true, DataFile "*.txt", AutomaticRewrite the
// 16-bit integer 0.
Variant defaultOf(DISPID id) {
    if (id == dispid::enabled) return boolValue(true);
    if (id == dispid::dataFile) return textValue(kDefaultDataFile);
    Variant v;
    V_VT(v.get()) = VT_I2;
    V_I2(v.get()) = 0;
    return v;
}

// Reads one key; a key the bag does not hold (E_INVALIDARG) gives its default. Other failures of
// the bag go back to the container.
HRESULT readProperty(IPropertyBag* bag, const wchar_t* key, DISPID id, IErrorLog* log, Variant& value) {
    const HRESULT hr = bag->Read(key, value.out(), log);
    if (SUCCEEDED(hr)) return S_OK;
    if (hr != E_INVALIDARG) return hr;
    value = defaultOf(id);
    return S_OK;
}

bool equalsDefault(const VARIANT& value, DISPID id) {
    Variant fallback = defaultOf(id);
    return VarCmp(const_cast<VARIANT*>(&value), fallback.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

// ---- Stream layout: magic, version, Enabled, DataFile (tagged value), AutomaticRewrite ----------
constexpr DWORD kStreamMagic = 0x56525456; // "VTRV"
constexpr WORD kStreamVersion = 1;
// In a compound document, the same layout is the storage's stream "Contents".
constexpr wchar_t kContentsStream[] = L"Contents";

size_t fixedSize(VARTYPE type) {
    switch (type) {
    case VT_EMPTY:
    case VT_NULL: return 0;
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return static_cast<size_t>(-1);
    }
}

HRESULT writeBytes(IStream* stream, const void* data, size_t size) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, static_cast<ULONG>(size), &written);
    if (FAILED(hr)) return hr;
    return written == size ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT readBytes(IStream* stream, void* data, size_t size) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data, static_cast<ULONG>(size), &read);
    if (FAILED(hr)) return hr;
    return read == size ? S_OK : STG_E_READFAULT;
}

// The bytes of a value in the stream; false for values a stream cannot hold (objects, arrays).
bool encodeValue(const VARIANT& value, std::vector<BYTE>& out) {
    const VARTYPE type = V_VT(&value);
    out.resize(sizeof(VARTYPE));
    std::memcpy(out.data(), &type, sizeof(VARTYPE));
    if (type == VT_BSTR) {
        const UINT length = SysStringLen(V_BSTR(&value));
        const size_t at = out.size();
        out.resize(at + sizeof(UINT) + length * sizeof(wchar_t));
        std::memcpy(out.data() + at, &length, sizeof(UINT));
        if (length) std::memcpy(out.data() + at + sizeof(UINT), V_BSTR(&value), length * sizeof(wchar_t));
        return true;
    }
    const size_t size = fixedSize(type);
    if (size == static_cast<size_t>(-1)) return false;
    const size_t at = out.size();
    out.resize(at + size);
    if (type == VT_DECIMAL)
        std::memcpy(out.data() + at, &V_DECIMAL(&value), size);
    else if (size)
        std::memcpy(out.data() + at, &V_UI1(&value), size);
    return true;
}

HRESULT decodeValue(IStream* stream, Variant& value) {
    VARTYPE type = VT_EMPTY;
    HRESULT hr = readBytes(stream, &type, sizeof(type));
    if (FAILED(hr)) return hr;
    VARIANT* target = value.out();
    if (type == VT_BSTR) {
        UINT length = 0;
        hr = readBytes(stream, &length, sizeof(length));
        if (FAILED(hr)) return hr;
        if (length > (1u << 28)) return STG_E_READFAULT;
        BSTR text = SysAllocStringLen(nullptr, length);
        if (!text) return E_OUTOFMEMORY;
        V_VT(target) = VT_BSTR;
        V_BSTR(target) = text;
        return readBytes(stream, text, length * sizeof(wchar_t));
    }
    const size_t size = fixedSize(type);
    if (size == static_cast<size_t>(-1)) return STG_E_READFAULT;
    if (type == VT_DECIMAL) {
        hr = readBytes(stream, &V_DECIMAL(target), size);
    } else {
        hr = size ? readBytes(stream, &V_UI1(target), size) : S_OK;
    }
    V_VT(target) = type; // after the decimal, which overlays the type field
    return hr;
}

} // namespace

void ValtroveControl::propertyChanged(DISPID id) {
    dirty_ = true;
    propertyNotify_.forEach([id](IUnknown* sink) { static_cast<IPropertyNotifySink*>(sink)->OnChanged(id); });
}

// The three persisted properties as a new instance has them.
void ValtroveControl::initialiseProperties() {
    setEnabledState(true);
    Variant pattern = defaultOf(dispid::dataFile);
    dataFile_ = std::move(pattern);
    store_.setAutomaticRewrite(false);
    dirty_ = false;
}

// ---- IPersist, IPersistPropertyBag, IPersistStreamInit -------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Valtrove;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::InitNew() {
    initialiseProperties();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE ValtroveControl::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) return E_POINTER;
    // Each property is applied as soon as it is read: a failure keeps the ones before it.
    Variant value;
    HRESULT hr = readProperty(bag, L"Enabled", dispid::enabled, log, value);
    if (FAILED(hr)) return hr;
    Variant flag;
    if (FAILED(VariantChangeType(flag.get(), value.get(), 0, VT_BOOL)))
        return raiseError(automationError::typeMismatch, IID_IPersistPropertyBag);
    setEnabledState(V_BOOL(flag.get()) != VARIANT_FALSE);

    hr = readProperty(bag, L"DataFile", dispid::dataFile, log, value);
    if (FAILED(hr)) return hr;
    Variant stored;
    if (FAILED(copyByValue(stored, value.get()))) return E_INVALIDARG;
    dataFile_ = std::move(stored);

    hr = readProperty(bag, L"AutomaticRewrite", dispid::automaticRewrite, log, value);
    if (FAILED(hr)) return hr;
    if (FAILED(VariantChangeType(flag.get(), value.get(), 0, VT_BOOL)))
        return raiseError(automationError::typeMismatch, IID_IPersistPropertyBag);
    store_.setAutomaticRewrite(V_BOOL(flag.get()) != VARIANT_FALSE);
    dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) {
    if (!bag) return E_POINTER;
    Variant enabled = boolValue(enabledState());
    Variant rewrite = boolValue(store_.automaticRewrite());
    const struct {
        const wchar_t* key;
        DISPID id;
        VARIANT* value;
    } properties[] = {{L"Enabled", dispid::enabled, enabled.get()},
                      {L"DataFile", dispid::dataFile, dataFile_.get()},
                      {L"AutomaticRewrite", dispid::automaticRewrite, rewrite.get()}};
    // A value equal to its default is written only when the container asks for all of them.
    for (const auto& property : properties) {
        if (!saveAll && equalsDefault(*property.value, property.id)) continue;
        const HRESULT hr = bag->Write(property.key, property.value);
        if (FAILED(hr)) return hr;
    }
    if (clearDirty) dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    DWORD magic = 0;
    WORD version = 0;
    HRESULT hr = readBytes(stream, &magic, sizeof(magic));
    if (SUCCEEDED(hr)) hr = readBytes(stream, &version, sizeof(version));
    if (FAILED(hr)) return hr;
    if (magic != kStreamMagic || version != kStreamVersion) return STG_E_OLDFORMAT;
    VARIANT_BOOL flag = VARIANT_FALSE;
    if (FAILED(hr = readBytes(stream, &flag, sizeof(flag)))) return hr;
    setEnabledState(flag != VARIANT_FALSE);
    Variant value;
    if (FAILED(hr = decodeValue(stream, value))) return hr;
    dataFile_ = std::move(value);
    if (FAILED(hr = readBytes(stream, &flag, sizeof(flag)))) return hr;
    store_.setAutomaticRewrite(flag != VARIANT_FALSE);
    dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Save(IStream* stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    std::vector<BYTE> dataFile;
    try {
        if (!encodeValue(dataFile_.ref(), dataFile)) return STG_E_CANTSAVE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const VARIANT_BOOL enabled = enabledState() ? VARIANT_TRUE : VARIANT_FALSE;
    const VARIANT_BOOL rewrite = store_.automaticRewrite() ? VARIANT_TRUE : VARIANT_FALSE;
    HRESULT hr = writeBytes(stream, &kStreamMagic, sizeof(kStreamMagic));
    if (SUCCEEDED(hr)) hr = writeBytes(stream, &kStreamVersion, sizeof(kStreamVersion));
    if (SUCCEEDED(hr)) hr = writeBytes(stream, &enabled, sizeof(enabled));
    if (SUCCEEDED(hr)) hr = writeBytes(stream, dataFile.data(), dataFile.size());
    if (SUCCEEDED(hr)) hr = writeBytes(stream, &rewrite, sizeof(rewrite));
    if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
    return hr;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    std::vector<BYTE> dataFile;
    if (!encodeValue(dataFile_.ref(), dataFile)) return STG_E_CANTSAVE;
    size->QuadPart = sizeof(kStreamMagic) + sizeof(kStreamVersion) + 2 * sizeof(VARIANT_BOOL) + dataFile.size();
    return S_OK;
}

// ---- IPersistStorage -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::InitNew(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageMode_ != StorageMode::none) return CO_E_ALREADYINITIALIZED;
    initialiseProperties();
    storageMode_ = StorageMode::normal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Load(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageMode_ != StorageMode::none) return CO_E_ALREADYINITIALIZED;
    ComPtr<IStream> contents;
    HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.out());
    if (SUCCEEDED(hr)) hr = Load(contents.get());
    // After a failed load (properties read before the failure stay applied, as for a stream) the
    // container may still InitNew or Load.
    if (FAILED(hr)) return hr;
    storageMode_ = StorageMode::normal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Save(IStorage* storage, BOOL sameAsLoad) {
    if (!storage) return E_POINTER;
    storageMode_ = storageMode_ == StorageMode::handsOffFromNormal || storageMode_ == StorageMode::handsOffAfterSave
                       ? StorageMode::handsOffAfterSave
                       : StorageMode::noScribble;
    ComPtr<IStream> contents;
    HRESULT hr =
        storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, contents.out());
    // Saved into its own storage the control is clean; a copy saved elsewhere leaves it dirty.
    if (SUCCEEDED(hr)) hr = Save(contents.get(), sameAsLoad);
    return hr;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::SaveCompleted(IStorage* storage) {
    switch (storageMode_) {
    case StorageMode::none:
    case StorageMode::normal: return E_UNEXPECTED;
    case StorageMode::handsOffFromNormal:
    case StorageMode::handsOffAfterSave:
        if (!storage) return E_INVALIDARG;
        break;
    case StorageMode::noScribble: break;
    }
    // A new storage after a save holds what was saved ("save as"); after hands off from normal it is
    // a copy of the old one, which changes nothing.
    if (storage && storageMode_ != StorageMode::handsOffFromNormal) dirty_ = false;
    storageMode_ = StorageMode::normal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::HandsOffStorage() {
    if (storageMode_ == StorageMode::normal)
        storageMode_ = StorageMode::handsOffFromNormal;
    else if (storageMode_ == StorageMode::noScribble)
        storageMode_ = StorageMode::handsOffAfterSave;
    return S_OK;
}

// ---- Connection points, class information --------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
    return createConnectionPointEnumerator({&propertyNotify_, &events_}, out);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (ConnectionPoint* point : {&propertyNotify_, &events_})
        if (IsEqualIID(riid, point->iid())) {
            *out = point;
            point->AddRef();
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetClassInfo(ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<ITypeLib> lib;
    const HRESULT hr = getTypeLib(lib.out());
    return FAILED(hr) ? hr : lib->GetTypeInfoOfGuid(CLSID_Valtrove, out);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID___Valtrove;
    return S_OK;
}

// ---- IOleObject ---------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::SetClientSite(IOleClientSite* site) {
    site_ = ComPtr<IOleClientSite>(site);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = site_.copy();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE ValtroveControl::Close(DWORD) {
    InPlaceDeactivate();
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ValtroveControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ValtroveControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE: return activateInPlace(site ? site : site_.get());
    case OLEIVERB_HIDE:
        if (window_) ShowWindow(window_, SW_HIDE);
        return S_OK;
    default: return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT STDMETHODCALLTYPE ValtroveControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs) *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Update() { return S_OK; }
HRESULT STDMETHODCALLTYPE ValtroveControl::IsUpToDate() { return S_OK; }

HRESULT STDMETHODCALLTYPE ValtroveControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

HRESULT STDMETHODCALLTYPE ValtroveControl::GetUserType(DWORD form, LPOLESTR* type) {
    return OleRegGetUserType(CLSID_Valtrove, form, type);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    // Any size asked for ends as 480 by 480 twips.
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    size->cx = kSizeHimetric;
    size->cy = kSizeHimetric;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!adviseHolder_) {
        const HRESULT hr = CreateOleAdviseHolder(adviseHolder_.out());
        if (FAILED(hr)) return hr;
    }
    return adviseHolder_->Advise(sink, connection);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Unadvise(DWORD connection) {
    return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(advise) : S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? kMiscStatusContent : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

} // namespace vtc
