#pragma once
// Owners for the Windows resources both programs use. Each kind names what releases it: a raw
// CloseHandle, FindClose, RegCloseKey, DeleteObject, DestroyIcon, DeleteDC, ReleaseDC, EndPaint,
// GlobalFree, Release, SysFreeString or VariantClear belongs here and nowhere else.

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string_view>
#include <utility>

namespace qz::win32 {

// Owns one value of a resource kind described by Traits: Traits::Type is the raw type,
// Traits::none() the value that owns nothing, Traits::valid(v) whether v is owned and
// Traits::release(v) frees it, reporting whether that worked.
template <typename Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() = default;
    explicit UniqueAny(Type value) noexcept : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.detach()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    ~UniqueAny() { reset(); }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return Traits::valid(value_); }
    explicit operator bool() const noexcept { return valid(); }
    // Released first, ready to receive a value through a function's out parameter.
    Type* out() noexcept {
        reset();
        return &value_;
    }
    // Gives the value up without releasing it.
    Type detach() noexcept { return std::exchange(value_, Traits::none()); }
    // Releases the value held (if any) and takes VALUE.
    void reset(Type value = Traits::none()) noexcept {
        const Type old = std::exchange(value_, value);
        if (Traits::valid(old)) Traits::release(old);
    }
    // Releases now; false when the release itself failed (for a file: its last data could not be
    // written).
    bool close() noexcept {
        const Type old = detach();
        return !Traits::valid(old) || Traits::release(old);
    }

private:
    Type value_ = Traits::none();
};

namespace release {
inline bool closeHandle(HANDLE handle) noexcept { return ::CloseHandle(handle) != FALSE; }
inline bool findClose(HANDLE find) noexcept { return ::FindClose(find) != FALSE; }
inline bool regCloseKey(HKEY key) noexcept { return ::RegCloseKey(key) == ERROR_SUCCESS; }
inline bool deleteObject(HGDIOBJ object) noexcept { return ::DeleteObject(object) != FALSE; }
inline bool destroyIcon(HICON icon) noexcept { return ::DestroyIcon(icon) != FALSE; }
inline bool deleteDC(HDC dc) noexcept { return ::DeleteDC(dc) != FALSE; }
inline bool globalFree(HGLOBAL memory) noexcept { return ::GlobalFree(memory) == nullptr; }
} // namespace release

// A kind whose "nothing" is nullptr, released by Release.
template <typename T, auto Release>
struct NullIsNone {
    using Type = T;
    static Type none() noexcept { return nullptr; }
    static bool valid(Type value) noexcept { return value != nullptr; }
    static bool release(Type value) noexcept { return Release(value); }
};

// A handle whose "nothing" is INVALID_HANDLE_VALUE (what CreateFile and FindFirstFile return on
// failure); nullptr owns nothing either.
template <auto Release>
struct InvalidIsNone {
    using Type = HANDLE;
    static Type none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Type value) noexcept { return value != INVALID_HANDLE_VALUE && value != nullptr; }
    static bool release(Type value) noexcept { return Release(value); }
};

using UniqueHandle = UniqueAny<NullIsNone<HANDLE, release::closeHandle>>;   // events, threads: CloseHandle
using UniqueFile = UniqueAny<InvalidIsNone<release::closeHandle>>;          // CreateFile: CloseHandle
using UniqueFind = UniqueAny<InvalidIsNone<release::findClose>>;            // FindFirstFile: FindClose
using UniqueRegKey = UniqueAny<NullIsNone<HKEY, release::regCloseKey>>;     // RegCloseKey
using UniqueFont = UniqueAny<NullIsNone<HFONT, release::deleteObject>>;     // DeleteObject
using UniqueBitmap = UniqueAny<NullIsNone<HBITMAP, release::deleteObject>>; // DeleteObject
using UniqueBrush = UniqueAny<NullIsNone<HBRUSH, release::deleteObject>>;   // DeleteObject
using UniqueIcon = UniqueAny<NullIsNone<HICON, release::destroyIcon>>;      // created icons: DestroyIcon
using UniqueDc = UniqueAny<NullIsNone<HDC, release::deleteDC>>;             // CreateCompatibleDC: DeleteDC
using UniqueGlobal = UniqueAny<NullIsNone<HGLOBAL, release::globalFree>>;   // GlobalAlloc: GlobalFree
using RegKey = UniqueRegKey;

// The device context of a window (of the screen for nullptr) from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// One WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class PaintContext {
public:
    explicit PaintContext(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    PaintContext(const PaintContext&) = delete;
    PaintContext& operator=(const PaintContext&) = delete;
    ~PaintContext() { ::EndPaint(window_, &paint_); }
    HDC dc() const noexcept { return dc_; }
    const PAINTSTRUCT& paint() const noexcept { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// An object selected into a device context with SelectObject; the one it replaced is selected
// back on destruction.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Owns one BSTR (a null BSTR reads as the empty text, as automation treats it).
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
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

// Owns one reference to a COM interface (type libraries, type infos, the objects' own interfaces).
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

} // namespace qz::win32
