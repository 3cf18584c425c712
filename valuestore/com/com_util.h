// Small RAII owners for the handle kinds the control library uses (BSTR, VARIANT, COM interface
// pointers, registry keys) and the text conversions at the automation edge: BSTR (UTF-16) to and
// from the ANSI code page in which the value store keeps its texts.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace vtc {

// Owns one BSTR (a null BSTR reads as the empty text, as automation treats it).
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      SysFreeString(value_);
      value_ = std::exchange(other.value_, nullptr);
    }
    return *this;
  }
  ~Bstr() { SysFreeString(value_); }

  // Takes ownership of a BSTR allocated elsewhere.
  static Bstr attach(BSTR value) {
    Bstr b;
    b.value_ = value;
    return b;
  }
  BSTR get() const { return value_; }
  BSTR detach() { return std::exchange(value_, nullptr); }
  BSTR* out() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  std::wstring_view view() const { return {value_ ? value_ : L"", SysStringLen(value_)}; }

 private:
  BSTR value_ = nullptr;
};

// Owns one VARIANT: initialised on construction, cleared on destruction.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept {
    value_ = other.value_;
    VariantInit(&other.value_);
  }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  ~Variant() { VariantClear(&value_); }

  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARIANT& ref() { return value_; }
  const VARIANT& ref() const { return value_; }
  // Cleared, ready to receive a value.
  VARIANT* out() {
    VariantClear(&value_);
    return &value_;
  }
  // Hands the value over to a caller-owned VARIANT (which must be initialised or empty).
  void detachTo(VARIANT* target) {
    *target = value_;
    VariantInit(&value_);
  }

 private:
  VARIANT value_;
};

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adds a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }

  // Takes over a reference the caller already owns.
  static ComPtr attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() { ComPtr().swap(*this); }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }
  // Hands an extra reference to the caller (for [out] parameters).
  T* copy() const {
    if (p_) p_->AddRef();
    return p_;
  }

 private:
  T* p_ = nullptr;
};

// Owns one open registry key.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ~RegKey() { close(); }

  HKEY get() const { return key_; }
  HKEY* out() {
    close();
    return &key_;
  }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  void close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY key_ = nullptr;
};

// Text in the ANSI code page of the system (the value store's encoding). Characters the code
// page lacks become its default character.
std::string toAnsi(std::wstring_view text);
// The same, exactly: false when the code page lacks a character of the text (no best-fit look-alike,
// no default character is ever put in its place).
bool toAnsiExact(std::wstring_view text, std::string& ansi);
std::wstring fromAnsi(std::string_view text);
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

}  // namespace vtc
