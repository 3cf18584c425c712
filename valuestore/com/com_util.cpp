#include "valuestore/com/com_util.h"

namespace vtc {

const VARIANT* derefVariant(const VARIANT* value) {
    for (int depth = 0; value && depth < 8; ++depth) {
        if (V_VT(value) != (VT_BYREF | VT_VARIANT)) return value;
        value = V_VARIANTREF(value);
    }
    return nullptr;
}

HRESULT copyByValue(Variant& target, const VARIANT* source) {
    VARIANT* cleared = target.out();
    source = derefVariant(source);
    if (!source) return E_POINTER;
    if ((V_VT(source) & VT_BYREF) && !V_BYREF(source)) return E_POINTER;
    return VariantCopyInd(cleared, const_cast<VARIANT*>(source));
}

} // namespace vtc
