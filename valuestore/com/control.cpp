#include "valuestore/com/control.h"

#include <new>

#include "valuestore/com/collection.h"
#include "valuestore/com/module.h"

namespace vtc {

HRESULT createValtrove(IUnknown* outer, REFIID riid, void** out) {
    if (outer) return CLASS_E_NOAGGREGATION;
    return ValtroveControl::create(riid, out);
}

ValtroveControl::ValtroveControl() : store_(vs::systemFileSystem(), this) {
    lockModule();
    V_VT(dataFile_.get()) = VT_BSTR;
    V_BSTR(dataFile_.get()) = SysAllocString(L"*.txt");
    store_.setDataFileSource([this] { return dataFilePath(); });
}

ValtroveControl::~ValtroveControl() {
    if (window_) DestroyWindow(window_);
    unlockModule();
}

HRESULT ValtroveControl::create(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ValtroveControl* control = nullptr;
    try {
        control = new ValtroveControl();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!V_BSTR(control->dataFile_.get())) {
        control->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = control->QueryInterface(riid, out);
    control->Release();
    return hr;
}

// ---- IUnknown, IDispatch, ISupportErrorInfo ----------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__Valtrove))
        *out = static_cast<_Valtrove*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        *out = static_cast<ISupportErrorInfo*>(this);
    else if (IsEqualIID(riid, IID_IPersistPropertyBag))
        *out = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist))
        *out = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(riid, IID_IPersistStorage))
        *out = static_cast<IPersistStorage*>(this);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
        *out = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(riid, IID_IOleObject))
        *out = static_cast<IOleObject*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceObject) || IsEqualIID(riid, IID_IOleWindow))
        *out = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
        *out = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(riid, IID_IOleControl))
        *out = static_cast<IOleControl*>(this);
    else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2))
        *out = static_cast<IViewObject2*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ValtroveControl::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE ValtroveControl::Release() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    return getTypeInfoForDispatch(TypeId::valtrove, index, out);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return getIdsOfNamesThroughTypeInfo(TypeId::valtrove, riid, names, count, ids);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    return invokeThroughTypeInfo(TypeId::valtrove, static_cast<_Valtrove*>(this), member, riid, lcid, flags, params,
                                 result, exception, argumentError);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID__Valtrove) ? S_OK : S_FALSE;
}

// ---- Collections --------------------------------------------------------------------------------

void ValtroveControl::publishCollections() {
    if (store_.loadCount() == publishedLoad_) return;
    publishedLoad_ = store_.loadCount();
    allData_.reset();
    valueList_.reset();
    const vs::ValueStore::Values& values = store_.values();
    if (values.empty()) return;
    ComPtr<CollectionObject> all = CollectionObject::create();
    ComPtr<CollectionObject> list = CollectionObject::create();
    if (!all || !list) return;
    for (const auto& [name, data] : values) {
        const std::wstring key = widen(name);
        Variant item;
        V_VT(item.get()) = VT_BSTR;
        V_BSTR(item.get()) = ansiToBstr(data);
        // A key the collection already holds (its case folding may differ from the store's) ends the
        // published values there, before the name reaches ValueList.
        if (!all->append(item.ref(), &key)) break;
        Variant nameItem;
        V_VT(nameItem.get()) = VT_BSTR;
        V_BSTR(nameItem.get()) = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
        if (!list->append(nameItem.ref(), nullptr)) break;
    }
    allData_ = ComPtr<Collection>(all.get());
    valueList_ = ComPtr<Collection>(list.get());
}

HRESULT ValtroveControl::getCollection(ComPtr<Collection>& held, Collection** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    try {
        publishCollections();
    } catch (const std::bad_alloc&) {
        return raiseError(automationError::outOfMemory, IID__Valtrove);
    }
    if (!held) {
        ComPtr<CollectionObject> fresh = CollectionObject::create();
        if (!fresh) return raiseError(automationError::outOfMemory, IID__Valtrove);
        held = ComPtr<Collection>(fresh.get());
    }
    *value = held.copy();
    return S_OK;
}

HRESULT ValtroveControl::putCollection(ComPtr<Collection>& held, Collection* value) {
    try {
        publishCollections();
    } catch (const std::bad_alloc&) {
        return raiseError(automationError::outOfMemory, IID__Valtrove);
    }
    if (!value) {
        held.reset();
        return S_OK;
    }
    // A host may hand over any object here: keep it only if it is a collection.
    ComPtr<Collection> collection;
    if (FAILED(value->QueryInterface(IID_Collection, collection.outVoid())))
        return raiseError(automationError::typeMismatch, IID__Valtrove);
    held = std::move(collection);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::get_AllData(Collection** value) { return getCollection(allData_, value); }
HRESULT STDMETHODCALLTYPE ValtroveControl::putref_AllData(Collection* value) { return putCollection(allData_, value); }
HRESULT STDMETHODCALLTYPE ValtroveControl::get_ValueList(Collection** value) {
    return getCollection(valueList_, value);
}
HRESULT STDMETHODCALLTYPE ValtroveControl::putref_ValueList(Collection* value) {
    return putCollection(valueList_, value);
}

// ---- Properties ---------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ValtroveControl::get_NewValueData(BSTR* value) {
    if (!value) return E_POINTER;
    const std::wstring_view text = newValueData_.view();
    *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

// Kept as the host gave it; converted for the store by the operations that use it.
HRESULT STDMETHODCALLTYPE ValtroveControl::put_NewValueData(BSTR value) {
    const std::wstring_view text{value ? value : L"", SysStringLen(value)};
    Bstr copy(text);
    if (!copy.get() && !text.empty()) return E_OUTOFMEMORY;
    newValueData_ = std::move(copy);
    return S_OK;
}

// The enabled state of the control's window when it has one; governs only user input.
HRESULT STDMETHODCALLTYPE ValtroveControl::get_Enabled(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = enabledState() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

void ValtroveControl::setEnabledState(bool enabled) {
    enabled_ = enabled;
    if (window_) EnableWindow(window_, enabled);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::put_Enabled(VARIANT_BOOL value) {
    setEnabledState(value != VARIANT_FALSE);
    propertyChanged(0x68030002);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::get_DataFile(VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    return VariantCopy(value, dataFile_.get());
}

HRESULT STDMETHODCALLTYPE ValtroveControl::put_DataFile(VARIANT value) {
    // Kept as the host gave it (by value), whatever its type; read as a path at each file access.
    Variant copy;
    if (FAILED(copyByValue(copy.get(), &value))) return raiseError(automationError::invalidArgument, IID__Valtrove);
    dataFile_ = std::move(copy);
    propertyChanged(0x68030001);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::get_AutomaticRewrite(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = store_.automaticRewrite() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::put_AutomaticRewrite(VARIANT_BOOL value) {
    store_.setAutomaticRewrite(value != VARIANT_FALSE);
    propertyChanged(0x68030000);
    return S_OK;
}

std::string ValtroveControl::dataFilePath() const {
    const VARIANT* value = dataFile_.get();
    if (V_VT(value) == VT_BSTR)
        return exactAnsi({V_BSTR(value) ? V_BSTR(value) : L"", SysStringLen(V_BSTR(value))}, "DataFile");
    if (V_VT(value) == VT_NULL) throw vs::StoreError(automationError::invalidUseOfNull, "Invalid use of Null");
    Variant text;
    if (FAILED(VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL,
                                   VT_BSTR)))
        throw vs::StoreError(automationError::typeMismatch, "Type mismatch");
    return exactAnsi({V_BSTR(text.get()) ? V_BSTR(text.get()) : L"", SysStringLen(V_BSTR(text.get()))}, "DataFile");
}

std::string ValtroveControl::exactAnsi(std::wstring_view text, const char* parameter) {
    std::string ansi;
    if (!narrowExact(text, ansi))
        throw vs::StoreError(vs::error::invalidArgument,
                             std::string(vs::standardErrorText(vs::error::invalidArgument)) + ": " + parameter +
                                 " holds characters that the ANSI code page (" + std::to_string(GetACP()) +
                                 ") cannot hold");
    return ansi;
}

// ---- Operations ---------------------------------------------------------------------------------

template <typename Operation>
HRESULT ValtroveControl::runOperation(VARIANT* result, Operation&& operation) {
    if (!result) return E_POINTER;
    VariantInit(result);
    // The warning box runs a message loop in which the host might release this object.
    ComPtr<ValtroveControl> keepAlive(this);
    HRESULT hr = S_OK;
    try {
        operation();
    } catch (const vs::StoreError& error) {
        hr = raiseError(error.number, widen(error.what()), IID__Valtrove);
    } catch (const std::bad_alloc&) {
        hr = raiseError(automationError::outOfMemory, IID__Valtrove);
    } catch (const std::exception&) {
        hr = E_UNEXPECTED;
    }
    try {
        publishCollections();
    } catch (const std::bad_alloc&) {
        if (SUCCEEDED(hr)) hr = raiseError(automationError::outOfMemory, IID__Valtrove);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::ClearAll(VARIANT* result) {
    return runOperation(result, [&] { store_.clearAll(); });
}

HRESULT STDMETHODCALLTYPE ValtroveControl::AddDataValue(BSTR* name, VARIANT* result) {
    if (!name) return E_POINTER;
    return runOperation(result, [&] {
        std::string ansiName = exactAnsi({*name ? *name : L"", SysStringLen(*name)}, "AddValueName");
        store_.setNewValueData(exactAnsi(newValueData_.view(), "NewValueData"));
        store_.addDataValue(ansiName);
    });
}

HRESULT STDMETHODCALLTYPE ValtroveControl::RewriteDataValue(BSTR* name, VARIANT* result) {
    if (!name) return E_POINTER;
    return runOperation(result, [&] {
        std::string ansiName = exactAnsi({*name ? *name : L"", SysStringLen(*name)}, "ValueName");
        store_.setNewValueData(exactAnsi(newValueData_.view(), "NewValueData"));
        store_.rewriteDataValue(ansiName);
    });
}

HRESULT STDMETHODCALLTYPE ValtroveControl::RemoveDataValue(BSTR name, VARIANT* result) {
    return runOperation(result, [&] {
        store_.removeDataValue(exactAnsi({name ? name : L"", SysStringLen(name)}, "RemoveValueName"));
    });
}

HRESULT STDMETHODCALLTYPE ValtroveControl::GetDataValues(VARIANT* result) {
    return runOperation(result, [&] { store_.getDataValues(); });
}

// ---- Ambiguity warning --------------------------------------------------------------------------

void ValtroveControl::warnAmbiguous() {
    const std::wstring text = widen(vs::kAmbiguousNameMessage);
    const std::wstring title = widen(vs::kAmbiguousNameTitle);
    MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(), MB_ICONEXCLAMATION | MB_OK);
}

} // namespace vtc
