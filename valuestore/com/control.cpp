#include "valuestore/com/control.h"

#include <functional>
#include <new>

#include "valuestore/com/collection.h"

namespace vtc {
namespace {

// An automation error raised by the store's data-file callback, as the store raises its own.
vs::StoreError storeError(const AutomationError& error) {
    return vs::StoreError(error.number, std::string(error.description));
}

} // namespace

HRESULT createValtrove(IUnknown* outer, REFIID riid, void** out) {
    if (outer) return CLASS_E_NOAGGREGATION;
    return ValtroveControl::create(riid, out);
}

ValtroveControl::ValtroveControl() : store_(vs::systemFileSystem(), this), dataFile_(textValue(kDefaultDataFile)) {
    store_.setDataFileSource([this] { return dataFilePath(); });
}

ValtroveControl::~ValtroveControl() {
    if (window_) DestroyWindow(window_);
}

HRESULT ValtroveControl::create(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<ValtroveControl> control;
    try {
        control = ComPtr<ValtroveControl>::attach(new ValtroveControl());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!V_BSTR(control->dataFile_.get())) return E_OUTOFMEMORY;
    return control->QueryInterface(riid, out);
}

InterfaceTable<ValtroveControl> ValtroveControl::interfaces() {
    static constexpr InterfaceEntry<ValtroveControl> table[] = {
        entry<_Valtrove>(IID__Valtrove),
        entry<_Valtrove>(IID_IDispatch),
        entry<ISupportErrorInfo>(IID_ISupportErrorInfo),
        entry<IPersistPropertyBag>(IID_IPersistPropertyBag),
        entry<IPersistStreamInit>(IID_IPersistStreamInit),
        entry<IPersistStreamInit>(IID_IPersist),
        entry<IPersistStorage>(IID_IPersistStorage),
        entry<IConnectionPointContainer>(IID_IConnectionPointContainer),
        entry<IProvideClassInfo2>(IID_IProvideClassInfo),
        entry<IProvideClassInfo2>(IID_IProvideClassInfo2),
        entry<IOleObject>(IID_IOleObject),
        entry<IOleInPlaceObject>(IID_IOleInPlaceObject),
        entry<IOleInPlaceObject>(IID_IOleWindow),
        entry<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
        entry<IOleControl>(IID_IOleControl),
        entry<IViewObject2>(IID_IViewObject),
        entry<IViewObject2>(IID_IViewObject2),
    };
    return table;
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
        // A key the collection already holds (its case folding may differ from the store's) ends the
        // published values there, before the name reaches ValueList.
        if (!all->append(textValue(widen(data)).ref(), &key)) break;
        if (!list->append(textValue(key).ref(), nullptr)) break;
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
        return raise(automationError::outOfMemory);
    }
    if (!held) {
        ComPtr<CollectionObject> fresh = CollectionObject::create();
        if (!fresh) return raise(automationError::outOfMemory);
        held = ComPtr<Collection>(fresh.get());
    }
    *value = held.copy();
    return S_OK;
}

HRESULT ValtroveControl::putCollection(ComPtr<Collection>& held, Collection* value) {
    try {
        publishCollections();
    } catch (const std::bad_alloc&) {
        return raise(automationError::outOfMemory);
    }
    if (!value) {
        held.reset();
        return S_OK;
    }
    // A host may hand over any object here: keep it only if it is a collection.
    ComPtr<Collection> collection;
    if (FAILED(value->QueryInterface(IID_Collection, collection.outVoid())))
        return raise(automationError::typeMismatch);
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
    const std::wstring_view text = bstrView(value);
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
    propertyChanged(dispid::enabled);
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
    if (FAILED(copyByValue(copy, &value))) return raise(automationError::invalidArgument);
    dataFile_ = std::move(copy);
    propertyChanged(dispid::dataFile);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::get_AutomaticRewrite(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = store_.automaticRewrite() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::put_AutomaticRewrite(VARIANT_BOOL value) {
    store_.setAutomaticRewrite(value != VARIANT_FALSE);
    propertyChanged(dispid::automaticRewrite);
    return S_OK;
}

std::string ValtroveControl::dataFilePath() const {
    const VARIANT* value = dataFile_.get();
    if (V_VT(value) == VT_BSTR) return exactAnsi(bstrView(V_BSTR(value)), "DataFile");
    if (V_VT(value) == VT_NULL) throw storeError(automationError::invalidUseOfNull);
    Variant text;
    if (FAILED(VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL,
                                   VT_BSTR)))
        throw storeError(automationError::typeMismatch);
    return exactAnsi(bstrView(V_BSTR(text.get())), "DataFile");
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
        hr = raise(error.number, widen(error.what()));
    } catch (const std::bad_alloc&) {
        hr = raise(automationError::outOfMemory);
    } catch (const std::exception&) {
        hr = E_UNEXPECTED;
    }
    try {
        publishCollections();
    } catch (const std::bad_alloc&) {
        if (SUCCEEDED(hr)) hr = raise(automationError::outOfMemory);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE ValtroveControl::ClearAll(VARIANT* result) {
    return runOperation(result, [&] { store_.clearAll(); });
}

template <typename StoreOperation>
HRESULT ValtroveControl::runOnNewValue(BSTR* name, const char* parameter, VARIANT* result, StoreOperation operation) {
    if (!name) return E_POINTER;
    return runOperation(result, [&] {
        const std::string ansiName = exactAnsi(bstrView(*name), parameter);
        store_.setNewValueData(exactAnsi(newValueData_.view(), "NewValueData"));
        std::invoke(operation, store_, ansiName);
    });
}

HRESULT STDMETHODCALLTYPE ValtroveControl::AddDataValue(BSTR* name, VARIANT* result) {
    return runOnNewValue(name, "AddValueName", result, &vs::ValueStore::addDataValue);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::RewriteDataValue(BSTR* name, VARIANT* result) {
    return runOnNewValue(name, "ValueName", result, &vs::ValueStore::rewriteDataValue);
}

HRESULT STDMETHODCALLTYPE ValtroveControl::RemoveDataValue(BSTR name, VARIANT* result) {
    return runOperation(result, [&] { store_.removeDataValue(exactAnsi(bstrView(name), "RemoveValueName")); });
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
