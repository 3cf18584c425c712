// Helpers at the automation edge: BSTR and VARIANT arguments to and from the ANSI code page in
// which the value store keeps its texts.
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

// A new BSTR from ANSI text (nullptr only when out of memory).
BSTR ansiToBstr(std::string_view text);

// The variant that a VT_BYREF|VT_VARIANT argument refers to (following a short chain of them);
// the argument itself otherwise. nullptr for a null reference or a chain too long to follow.
const VARIANT* derefVariant(const VARIANT* value);

// Copies a host's value into target (cleared first) by value: references are followed and
// dereferenced. A null reference gives E_POINTER instead of a crash.
HRESULT copyByValue(VARIANT* target, const VARIANT* source);

// True for an optional argument that the caller left out.
inline bool isMissing(const VARIANT& value) {
    return V_VT(&value) == VT_ERROR && V_ERROR(&value) == DISP_E_PARAMNOTFOUND;
}

} // namespace vtc
