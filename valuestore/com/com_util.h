// Helpers at the automation edge: BSTR and VARIANT arguments as hosts pass them, variants of a
// given value, and owners of type attributes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string_view>

#include "common/win32/handles.h"
#include "common/win32/text.h"

namespace vtc {

// The resource owners and text conversions shared with the updater.
using qz::win32::Bstr;
using qz::win32::ComPtr;
using qz::win32::narrowExact;
using qz::win32::RegKey;
using qz::win32::Variant;
using qz::win32::widen;

// A BSTR's text (a null BSTR is the empty text, as automation treats it).
inline std::wstring_view bstrView(BSTR text) { return {text ? text : L"", SysStringLen(text)}; }

// A VT_BSTR variant holding a copy of text (its BSTR null only when out of memory).
inline Variant textValue(std::wstring_view text) {
    Variant v;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

inline Variant boolValue(bool value) {
    Variant v;
    V_VT(v.get()) = VT_BOOL;
    V_BOOL(v.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// The variant that a VT_BYREF|VT_VARIANT argument refers to (following a short chain of them);
// the argument itself otherwise. nullptr for a null reference or a chain too long to follow.
const VARIANT* derefVariant(const VARIANT* value);

// Copies a host's value into target (cleared first) by value: references are followed and
// dereferenced. A null reference gives E_POINTER instead of a crash.
HRESULT copyByValue(Variant& target, const VARIANT* source);

// True for an optional argument that the caller left out.
inline bool isMissing(const VARIANT& value) {
    return V_VT(&value) == VT_ERROR && V_ERROR(&value) == DISP_E_PARAMNOTFOUND;
}

// Attributes that an Owner (a type library or a type) hands out with Get and takes back with
// Release: held from load() to destruction.
template <typename Owner, typename Attributes, auto Get, auto Release>
class HeldAttributes {
public:
    HeldAttributes() = default;
    HeldAttributes(const HeldAttributes&) = delete;
    HeldAttributes& operator=(const HeldAttributes&) = delete;
    ~HeldAttributes() { reset(); }

    HRESULT load(Owner* owner) {
        reset();
        const HRESULT hr = (owner->*Get)(&attributes_);
        if (FAILED(hr))
            attributes_ = nullptr;
        else
            owner_ = ComPtr<Owner>(owner);
        return hr;
    }
    const Attributes* operator->() const { return attributes_; }

private:
    void reset() {
        if (attributes_) (owner_.get()->*Release)(attributes_);
        attributes_ = nullptr;
        owner_.reset();
    }

    ComPtr<Owner> owner_;
    Attributes* attributes_ = nullptr;
};

using TypeAttributes = HeldAttributes<ITypeInfo, TYPEATTR, &ITypeInfo::GetTypeAttr, &ITypeInfo::ReleaseTypeAttr>;
using LibraryAttributes = HeldAttributes<ITypeLib, TLIBATTR, &ITypeLib::GetLibAttr, &ITypeLib::ReleaseTLibAttr>;

} // namespace vtc
