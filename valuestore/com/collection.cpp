#include "valuestore/com/collection.h"

#include <algorithm>
#include <memory>
#include <new>

namespace vtc {
namespace {

// Enumerates a snapshot of the collection's items taken when the enumerator was made, so that
// changes to the collection during a For Each cannot invalidate it.
class EnumVariant final : public ComObject<EnumVariant, IEnumVARIANT> {
public:
    using Items = std::vector<Variant>;

    EnumVariant(std::shared_ptr<const Items> items, size_t position) : items_(std::move(items)), position_(position) {}

    static InterfaceTable<EnumVariant> interfaces() {
        static constexpr InterfaceEntry<EnumVariant> table[] = {entry<IEnumVARIANT>(IID_IEnumVARIANT)};
        return table;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (wanted == 0) return S_OK;
        if (!out || (wanted > 1 && !fetched)) return E_INVALIDARG;
        const ULONG count = static_cast<ULONG>(std::min<size_t>(wanted, items_->size() - position_));
        // Copied first and handed out only when every copy succeeded.
        std::vector<Variant> copies;
        try {
            copies.resize(count);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        for (ULONG i = 0; i < count; ++i) {
            const HRESULT hr = VariantCopy(copies[i].get(), const_cast<VARIANT*>((*items_)[position_ + i].get()));
            if (FAILED(hr)) return hr;
        }
        for (ULONG i = 0; i < count; ++i) copies[i].detachTo(&out[i]);
        position_ += count;
        if (fetched) *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
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

ComPtr<CollectionObject> CollectionObject::create() {
    return ComPtr<CollectionObject>::attach(new (std::nothrow) CollectionObject());
}

InterfaceTable<CollectionObject> CollectionObject::interfaces() {
    static constexpr InterfaceEntry<CollectionObject> table[] = {entry<Collection>(IID_Collection),
                                                                 entry<Collection>(IID_IDispatch),
                                                                 entry<ISupportErrorInfo>(IID_ISupportErrorInfo)};
    return table;
}

bool CollectionObject::append(const VARIANT& item, const std::wstring* key) {
    Entry entry;
    if (FAILED(copyByValue(entry.item, &item))) return false;
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

const AutomationError* CollectionObject::locate(const VARIANT* index, size_t& position) const {
    index = derefVariant(index);
    if (!index || ((V_VT(index) & VT_BYREF) && !V_BYREF(index))) return &automationError::invalidArgument;
    if (V_VT(index) == VT_BSTR || V_VT(index) == (VT_BYREF | VT_BSTR)) {
        const auto found = keys_.find(foldKey(bstrView(V_VT(index) == VT_BSTR ? V_BSTR(index) : *V_BSTRREF(index))));
        if (found == keys_.end()) return &automationError::invalidArgument;
        position = found->second;
        return nullptr;
    }
    const VARTYPE type = V_VT(index) & ~VT_BYREF;
    if (type == VT_NULL) return &automationError::invalidUseOfNull;
    Variant number;
    if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(index), 0, VT_I4)))
        return &automationError::typeMismatch;
    const LONG oneBased = V_I4(number.get());
    if (oneBased < 1 || static_cast<size_t>(oneBased) > entries_.size()) return &automationError::subscriptOutOfRange;
    position = static_cast<size_t>(oneBased - 1);
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CollectionObject::Item(VARIANT index, VARIANT* item) {
    if (!item) return E_POINTER;
    VariantInit(item);
    size_t position = 0;
    if (const AutomationError* error = locate(&index, position)) return raise(*error);
    const HRESULT hr = VariantCopy(item, entries_[position].item.get());
    return FAILED(hr) ? raise(automationError::outOfMemory) : S_OK;
}

HRESULT STDMETHODCALLTYPE CollectionObject::Add(VARIANT item, VARIANT key, VARIANT before, VARIANT after) {
    Entry entry;
    if (FAILED(copyByValue(entry.item, &item))) return raise(automationError::invalidArgument);

    // A key left out, or Empty, adds the item without a key.
    const VARIANT* keyValue = derefVariant(&key);
    if (!keyValue) return raise(automationError::invalidArgument);
    if (!isMissing(*keyValue) && V_VT(keyValue) != VT_EMPTY) {
        if (V_VT(keyValue) == VT_NULL) return raise(automationError::invalidUseOfNull);
        Variant text;
        if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(keyValue), 0, VT_BSTR)))
            return raise(automationError::typeMismatch);
        entry.key = foldKey(bstrView(V_BSTR(text.get())));
        entry.keyed = true;
        if (keys_.count(entry.key)) return raise(automationError::duplicateKey);
    }

    const VARIANT* beforeValue = derefVariant(&before);
    const VARIANT* afterValue = derefVariant(&after);
    if (!beforeValue || !afterValue) return raise(automationError::invalidArgument);
    const bool hasBefore = !isMissing(*beforeValue);
    const bool hasAfter = !isMissing(*afterValue);
    if (hasBefore && hasAfter) return raise(automationError::invalidArgument);
    size_t insertAt = entries_.size();
    if (hasBefore || hasAfter) {
        size_t position = 0;
        if (const AutomationError* error = locate(hasBefore ? beforeValue : afterValue, position)) return raise(*error);
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
        return raise(automationError::outOfMemory);
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
    if (const AutomationError* error = locate(&index, position)) return raise(*error);
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
                return raise(automationError::outOfMemory);
        *enumerator = new EnumVariant(std::move(items), 0);
    } catch (const std::bad_alloc&) {
        return raise(automationError::outOfMemory);
    }
    return S_OK;
}

} // namespace vtc
