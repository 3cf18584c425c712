#include "valuestore/com/com_util.h"

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

bool toAnsiExact(std::wstring_view text, std::string& ansi) {
  ansi.clear();
  if (text.empty()) return true;
  const UINT codePage = GetACP();
  // UTF-8 and UTF-7 take neither WC_NO_BEST_FIT_CHARS nor the default-character check; the other code
  // pages that the conversion lists as taking no flags take the check but not the flag. Where the flag
  // is not taken, converting back shows a folded character.
  const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
  const bool noFlags = utf || codePage == 42 || (codePage >= 50220 && codePage <= 50229) || codePage == 52936 ||
                       codePage == 54936 || (codePage >= 57002 && codePage <= 57011);
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : noFlags ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultCheck = utf ? nullptr : &usedDefault;
  const int inLength = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(codePage, flags, text.data(), inLength, nullptr, 0, nullptr, usedDefaultCheck);
  if (length <= 0 || usedDefault) return false;
  ansi.resize(static_cast<size_t>(length));
  if (WideCharToMultiByte(codePage, flags, text.data(), inLength, ansi.data(), length, nullptr, usedDefaultCheck) !=
          length ||
      usedDefault)
    return false;
  return !noFlags || fromAnsi(ansi) == text;
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
