// Helpers for the Windows tests of ValtroveCtrl.ocx: loading the library from the build folder,
// calling its exports by ordinal, creating controls through its class factory, calling members
// through IDispatch the way script hosts do, and scratch folders for data files.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// Included once per test program: defines the library's GUIDs here.
#include <initguid.h>

#include "ValtroveCtrl_h.h"
#include "valuestore/com/com_object.h"
#include "valuestore/com/com_util.h"

namespace vtc::test {

// The library beside the test programs' folder (build/tests/x.exe -> build/ValtroveCtrl.ocx).
inline std::wstring ocxPath() {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    std::wstring path(self);
    path.resize(path.find_last_of(L"\\/")); // tests folder
    path.resize(path.find_last_of(L"\\/")); // build folder
    return path + L"\\ValtroveCtrl.ocx";
}

using CanUnloadNow = HRESULT(WINAPI*)();
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using SelfRegister = HRESULT(WINAPI*)();
using Install = HRESULT(WINAPI*)(BOOL, PCWSTR);

// The library loaded once per test program; its exports taken by ordinal.
struct Ocx {
    HMODULE module = nullptr;
    CanUnloadNow canUnloadNow = nullptr;     // ordinal 1
    GetClassObject getClassObject = nullptr; // ordinal 2
    SelfRegister registerServer = nullptr;   // ordinal 3
    SelfRegister unregisterServer = nullptr; // ordinal 4
    Install install = nullptr;               // ordinal 5: DllInstall

    static Ocx& get() {
        static Ocx ocx = [] {
            Ocx o;
            o.module = LoadLibraryW(ocxPath().c_str());
            if (o.module) {
                o.canUnloadNow = reinterpret_cast<CanUnloadNow>(
                    reinterpret_cast<void*>(GetProcAddress(o.module, MAKEINTRESOURCEA(1))));
                o.getClassObject = reinterpret_cast<GetClassObject>(
                    reinterpret_cast<void*>(GetProcAddress(o.module, MAKEINTRESOURCEA(2))));
                o.registerServer = reinterpret_cast<SelfRegister>(
                    reinterpret_cast<void*>(GetProcAddress(o.module, MAKEINTRESOURCEA(3))));
                o.unregisterServer = reinterpret_cast<SelfRegister>(
                    reinterpret_cast<void*>(GetProcAddress(o.module, MAKEINTRESOURCEA(4))));
                o.install =
                    reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(o.module, MAKEINTRESOURCEA(5))));
            }
            return o;
        }();
        return ocx;
    }
};

// Initialises a single-threaded apartment for one test.
struct Apartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Apartment() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// Another interface of an object (null when it has none, or for a null object).
template <typename T>
ComPtr<T> as(IUnknown* object, REFIID iid) {
    ComPtr<T> typed;
    if (object) object->QueryInterface(iid, typed.outVoid());
    return typed;
}

inline ComPtr<IClassFactory> classFactory() {
    ComPtr<IClassFactory> factory;
    const Ocx& ocx = Ocx::get();
    if (ocx.getClassObject) ocx.getClassObject(CLSID_Valtrove, IID_IClassFactory, factory.outVoid());
    return factory;
}

inline ComPtr<IDispatch> createControl() {
    ComPtr<IDispatch> control;
    if (ComPtr<IClassFactory> factory = classFactory())
        factory->CreateInstance(nullptr, IID_IDispatch, control.outVoid());
    return control;
}

// Variant constructors for arguments.
inline Variant text(std::wstring_view value) { return textValue(value); }
inline Variant boolean(bool value) { return boolValue(value); }
inline Variant integer(LONG value) {
    Variant v;
    V_VT(v.get()) = VT_I4;
    V_I4(v.get()) = value;
    return v;
}
inline Variant object(IDispatch* value) {
    Variant v;
    V_VT(v.get()) = VT_DISPATCH;
    V_DISPATCH(v.get()) = value;
    if (value) value->AddRef();
    return v;
}
// A VT_BYREF|VT_VARIANT argument referring to target, as VBScript passes a variable.
inline VARIANT reference(Variant& target) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = target.get();
    return v;
}

// The outcome of one IDispatch::Invoke.
struct Call {
    HRESULT hr = E_FAIL;
    Variant result;
    EXCEPINFO exception{};
    UINT argumentError = 0;

    Call() = default;
    Call(Call&& other) noexcept
        : hr(other.hr), result(std::move(other.result)), exception(other.exception),
          argumentError(other.argumentError) {
        other.exception = EXCEPINFO{};
    }
    ~Call() {
        // The exception's texts are the caller's to free.
        const Bstr texts[] = {Bstr::attach(exception.bstrSource), Bstr::attach(exception.bstrDescription),
                              Bstr::attach(exception.bstrHelpFile)};
    }
    std::wstring description() const { return exception.bstrDescription ? exception.bstrDescription : L""; }
    std::wstring textResult() const {
        return V_VT(result.get()) == VT_BSTR && V_BSTR(result.get()) ? V_BSTR(result.get()) : L"";
    }
    // The error code the host sees: the exception's for DISP_E_EXCEPTION.
    HRESULT error() const { return hr == DISP_E_EXCEPTION ? exception.scode : hr; }
};

inline DISPID dispidOf(IDispatch* target, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

// Invokes a member by dispatch id; args in source order (reversed into DISPPARAMS here).
inline Call invoke(IDispatch* target, DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
    Call call;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    call.hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, call.result.get(), &call.exception,
                             &call.argumentError);
    return call;
}
inline Call invoke(IDispatch* target, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {}) {
    return invoke(target, dispidOf(target, name), flags, std::move(args));
}
// VBScript calls methods and reads properties with both flags.
inline Call call(IDispatch* target, const wchar_t* name, std::vector<VARIANT> args = {}) {
    return invoke(target, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args));
}
inline Call put(IDispatch* target, const wchar_t* name, const VARIANT& value) {
    return invoke(target, name, DISPATCH_PROPERTYPUT, {value});
}
inline Call putRef(IDispatch* target, const wchar_t* name, const VARIANT& value) {
    return invoke(target, name, DISPATCH_PROPERTYPUTREF, {value});
}
inline ComPtr<IDispatch> objectResult(const Call& c) {
    return V_VT(c.result.get()) == VT_DISPATCH ? ComPtr<IDispatch>(V_DISPATCH(c.result.get())) : ComPtr<IDispatch>();
}

// The items of a collection, read through its enumerator, as text.
inline std::vector<std::wstring> enumerate(IDispatch* collection) {
    std::vector<std::wstring> items;
    Call newEnum = invoke(collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    if (FAILED(newEnum.hr) || V_VT(newEnum.result.get()) != VT_UNKNOWN) return items;
    ComPtr<IEnumVARIANT> it;
    if (FAILED(V_UNKNOWN(newEnum.result.get())->QueryInterface(IID_IEnumVARIANT, it.outVoid()))) return items;
    Variant item;
    ULONG fetched = 0;
    while (it->Next(1, item.out(), &fetched) == S_OK && fetched == 1) {
        Variant asText;
        if (SUCCEEDED(VariantChangeType(asText.get(), item.get(), 0, VT_BSTR)))
            items.emplace_back(V_BSTR(asText.get()) ? V_BSTR(asText.get()) : L"");
    }
    return items;
}

// A test double on the stack: QueryInterface from Derived::interfaces() as the library answers it,
// references counted in refs (what the control still holds), nothing ever freed.
template <typename Derived, typename... Interfaces>
class StackObject : public InterfacesOf<Derived, Interfaces...> {
public:
    long refs = 0;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

// A property bag, as a container holds one, that records every call: Read finds what hold() put there.
class RecordingBag final : public StackObject<RecordingBag, IPropertyBag> {
public:
    std::vector<std::pair<std::wstring, Variant>> held; // what Read finds
    std::vector<std::wstring> reads;
    std::vector<std::pair<std::wstring, Variant>> writes;

    static InterfaceTable<RecordingBag> interfaces() {
        static constexpr InterfaceEntry<RecordingBag> table[] = {entry<IPropertyBag>(IID_IPropertyBag)};
        return table;
    }
    void hold(const wchar_t* key, Variant value) { held.emplace_back(key, std::move(value)); }
    // What was written becomes what Read finds, as a form file saved and opened again.
    void holdWrites() { held = std::move(writes); }

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR key, VARIANT* value, IErrorLog*) override {
        reads.emplace_back(key);
        for (auto& [name, stored] : held)
            if (name == key) return VariantCopy(value, stored.get());
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR key, VARIANT* value) override {
        Variant copy;
        VariantCopy(copy.get(), value);
        writes.emplace_back(key, std::move(copy));
        return S_OK;
    }
};

// A scratch folder removed with its files at the end of the test.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        for (unsigned n = GetTickCount();; ++n) {
            path_ = std::wstring(base) + L"vtc-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n);
            if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        }
    }
    ~ScratchFolder() {
        WIN32_FIND_DATAW found;
        if (qz::win32::UniqueFind search{FindFirstFileW((path_ + L"\\*").c_str(), &found)}) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(file(found.cFileName).c_str());
            } while (FindNextFileW(search.get(), &found));
        }
        RemoveDirectoryW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

inline bool fileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string readBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The two lines of a data file, each enclosed in quotes and ended by CR LF.
inline std::string dataFile(const std::string& declarations, const std::string& values) {
    return "\"<BEGINVALUEDECLARE>" + declarations + "<ENDVALUEDECLARE>\"\r\n\"" + values + "\"\r\n";
}

} // namespace vtc::test
