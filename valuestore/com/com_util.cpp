#include "com_util.h"

#include <climits>

namespace vtc {

std::string toAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int inLength = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), inLength, result.data(), length, nullptr, nullptr);
  return result;
}

std::wstring fromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int inLength = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, nullptr, 0);
  std::wstring result(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, result.data(), length);
  return result;
}

BSTR ansiToBstr(std::string_view text) {
  const std::wstring wide = fromAnsi(text);
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

}  // namespace vtc
