#include "valuestore/com/com_util.h"

namespace vtc {

BSTR ansiToBstr(std::string_view text) {
    const std::wstring wide = widen(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

const VARIANT* derefVariant(const VARIANT* value) {
    for (int depth = 0; value && depth < 8; ++depth) {
        if (V_VT(value) != (VT_BYREF | VT_VARIANT)) return value;
        value = V_VARIANTREF(value);
    }
    return nullptr;
}

HRESULT copyByValue(VARIANT* target, const VARIANT* source) {
    VariantClear(target);
    source = derefVariant(source);
    if (!source) return E_POINTER;
    if ((V_VT(source) & VT_BYREF) && !V_BYREF(source)) return E_POINTER;
    return VariantCopyInd(target, const_cast<VARIANT*>(source));
}

} // namespace vtc
