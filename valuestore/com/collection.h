// The automation collection that AllData and ValueList hand out: items (any variant) in order,
// optional keys compared without regard to case, 1-based Item by index or key, Add with
// Before/After, Remove, Count and enumeration through IEnumVARIANT.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ValtroveCtrl_h.h"
#include "valuestore/com/automation.h"
#include "valuestore/com/com_object.h"
#include "valuestore/com/com_util.h"

namespace vtc {

class CollectionObject final : public ComObject<CollectionObject, Automation<Collection, TypeId::collection>> {
public:
    // A new empty collection (null when out of memory).
    static ComPtr<CollectionObject> create();

    // Appends an item, keyed when key is given. False (nothing added) when the key is taken.
    bool append(const VARIANT& item, const std::wstring* key);
    long count() const { return static_cast<long>(entries_.size()); }

    static InterfaceTable<CollectionObject> interfaces();
    // Collection
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, VARIANT* item) override;
    HRESULT STDMETHODCALLTYPE Add(VARIANT item, VARIANT key, VARIANT before, VARIANT after) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
    HRESULT STDMETHODCALLTYPE Remove(VARIANT index) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override;

private:
    struct Entry {
        Variant item;
        std::wstring key; // folded; empty with keyed false
        bool keyed = false;
    };

    CollectionObject() = default;

    // Position (0-based) of the entry an index names: a number (1-based) or a key. Null on
    // success, else the automation error.
    const AutomationError* locate(const VARIANT* index, size_t& position) const;
    void reindex();

    std::vector<Entry> entries_;
    std::unordered_map<std::wstring, size_t> keys_; // folded key -> position
};

// Key as compared: upper case (invariant), so that keys differing only in case are one key.
std::wstring foldKey(std::wstring_view key);

} // namespace vtc
