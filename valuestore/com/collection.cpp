#include "valuestore/com/collection.h"

#include <memory>
#include <new>

#include "valuestore/com/module.h"

namespace vtc {
namespace {

// Enumerates a snapshot of the collection's items taken when the enumerator was made, so that
// changes to the collection during a For Each cannot invalidate it.
class EnumVariant final : public IEnumVARIANT {
public:
    using Items = std::vector<Variant>;

    EnumVariant(std::shared_ptr<const Items> items, size_t position) : items_(std::move(items)), position_(position) {
        lockModule();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
            *out = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (wanted == 0) return S_OK;
        if (!out || (wanted > 1 && !fetched)) return E_INVALIDARG;
        ULONG done = 0;
        while (done < wanted && position_ < items_->size()) {
            VariantInit(&out[done]);
            const HRESULT hr = VariantCopy(&out[done], const_cast<VARIANT*>((*items_)[position_].get()));
            if (FAILED(hr)) {
                for (ULONG i = 0; i < done; ++i) VariantClear(&out[i]);
                return hr;
            }
            ++position_;
            ++done;
        }
        if (fetched) *fetched = done;
        return done == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EnumVariant(items_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~EnumVariant() { unlockModule(); }

    LONG refs_ = 1;
    std::shared_ptr<const Items> items_;
    size_t position_;
};

} // namespace

std::wstring foldKey(std::wstring_view key) {
    std::wstring folded(key);
    if (!folded.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.data(), static_cast<int>(key.size()), folded.data(),
                     static_cast<int>(folded.size()));
    return folded;
}

CollectionObject::CollectionObject() { lockModule(); }
CollectionObject::~CollectionObject() { unlockModule(); }

ComPtr<CollectionObject> CollectionObject::create() {
    return ComPtr<CollectionObject>::attach(new (std::nothrow) CollectionObject());
}

bool CollectionObject::append(const VARIANT& item, const std::wstring* key) {
    Entry entry;
    if (FAILED(copyByValue(entry.item.get(), &item))) return false;
    if (key) {
        entry.key = foldKey(*key);
        entry.keyed = true;
        if (!keys_.emplace(entry.key, entries_.size()).second) return false;
    }
    entries_.push_back(std::move(entry));
    return true;
}

void CollectionObject::reindex() {
    keys_.clear();
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].keyed) keys_.emplace(entries_[i].key, i);
}

int CollectionObject::locate(const VARIANT* index, size_t& position) const {
    index = derefVariant(index);
    if (!index || ((V_VT(index) & VT_BYREF) && !V_BYREF(index))) return automationError::invalidArgument;
    if (V_VT(index) == VT_BSTR || V_VT(index) == (VT_BYREF | VT_BSTR)) {
        const BSTR text = V_VT(index) == VT_BSTR ? V_BSTR(index) : *V_BSTRREF(index);
        const auto found = keys_.find(foldKey({text ? text : L"", SysStringLen(text)}));
        if (found == keys_.end()) return automationError::invalidArgument;
        position = found->second;
        return 0;
    }
    const VARTYPE type = V_VT(index) & ~VT_BYREF;
    if (type == VT_NULL) return automationError::invalidUseOfNull;
    Variant number;
    if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(index), 0, VT_I4)))
        return automationError::typeMismatch;
    const LONG oneBased = V_I4(number.get());
    if (oneBased < 1 || static_cast<size_t>(oneBased) > entries_.size()) return automationError::subscriptOutOfRange;
    position = static_cast<size_t>(oneBased - 1);
    return 0;
}

HRESULT STDMETHODCALLTYPE CollectionObject::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_Collection))
        *out = static_cast<Collection*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        *out = static_cast<ISupportErrorInfo*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CollectionObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE CollectionObject::Release() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CollectionObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    return getTypeInfoForDispatch(TypeId::collection, index, out);
}

HRESULT STDMETHODCALLTYPE CollectionObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return getIdsOfNamesThroughTypeInfo(TypeId::collection, riid, names, count, ids);
}

HRESULT STDMETHODCALLTYPE CollectionObject::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags,
                                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                                   UINT* argumentError) {
    return invokeThroughTypeInfo(TypeId::collection, static_cast<Collection*>(this), member, riid, lcid, flags, params,
                                 result, exception, argumentError);
}

HRESULT STDMETHODCALLTYPE CollectionObject::Item(VARIANT index, VARIANT* item) {
    if (!item) return E_POINTER;
    VariantInit(item);
    size_t position = 0;
    if (const int error = locate(&index, position)) return raiseError(error, IID_Collection);
    const HRESULT hr = VariantCopy(item, entries_[position].item.get());
    return FAILED(hr) ? raiseError(automationError::outOfMemory, IID_Collection) : S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::Add(VARIANT item, VARIANT key, VARIANT before, VARIANT after) {
    Entry entry;
    if (FAILED(copyByValue(entry.item.get(), &item)))
        return raiseError(automationError::invalidArgument, IID_Collection);

    // A key left out, or Empty, adds the item without a key.
    const VARIANT* keyValue = derefVariant(&key);
    if (!keyValue) return raiseError(automationError::invalidArgument, IID_Collection);
    if (!isMissing(*keyValue) && V_VT(keyValue) != VT_EMPTY) {
        if (V_VT(keyValue) == VT_NULL) return raiseError(automationError::invalidUseOfNull, IID_Collection);
        Variant text;
        if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(keyValue), 0, VT_BSTR)))
            return raiseError(automationError::typeMismatch, IID_Collection);
        const BSTR keyText = V_BSTR(text.get());
        entry.key = foldKey({keyText ? keyText : L"", SysStringLen(keyText)});
        entry.keyed = true;
        if (keys_.count(entry.key)) return raiseError(automationError::duplicateKey, IID_Collection);
    }

    const VARIANT* beforeValue = derefVariant(&before);
    const VARIANT* afterValue = derefVariant(&after);
    if (!beforeValue || !afterValue) return raiseError(automationError::invalidArgument, IID_Collection);
    const bool hasBefore = !isMissing(*beforeValue);
    const bool hasAfter = !isMissing(*afterValue);
    if (hasBefore && hasAfter) return raiseError(automationError::invalidArgument, IID_Collection);
    size_t insertAt = entries_.size();
    if (hasBefore || hasAfter) {
        size_t position = 0;
        if (const int error = locate(hasBefore ? beforeValue : afterValue, position))
            return raiseError(error, IID_Collection);
        insertAt = hasBefore ? position : position + 1;
    }

    try {
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
        if (insertAt + 1 == entries_.size()) {
            if (entries_.back().keyed) keys_.emplace(entries_.back().key, insertAt);
        } else {
            reindex();
        }
    } catch (const std::bad_alloc&) {
        return raiseError(automationError::outOfMemory, IID_Collection);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = this->count();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::Remove(VARIANT index) {
    size_t position = 0;
    if (const int error = locate(&index, position)) return raiseError(error, IID_Collection);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    reindex();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::get__NewEnum(IUnknown** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    try {
        auto items = std::make_shared<EnumVariant::Items>(entries_.size());
        for (size_t i = 0; i < entries_.size(); ++i)
            if (FAILED(VariantCopy((*items)[i].get(), entries_[i].item.get())))
                return raiseError(automationError::outOfMemory, IID_Collection);
        *enumerator = new EnumVariant(std::move(items), 0);
    } catch (const std::bad_alloc&) {
        return raiseError(automationError::outOfMemory, IID_Collection);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_Collection) ? S_OK : S_FALSE;
}

} // namespace vtc
