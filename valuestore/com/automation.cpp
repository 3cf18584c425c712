// The type information cache, IDispatch through it, and automation errors.
#include "valuestore/com/automation.h"

#include <array>
#include <vector>

#include "ValtroveCtrl_h.h"
#include "valuestore/com/com_util.h"
#include "valuestore/com/module.h"

namespace vtc {
namespace {

// A COM pointer published once, atomically, and kept until the library unloads.
template <typename T>
class KeptOnce {
public:
    ComPtr<T> get() { return ComPtr<T>(static_cast<T*>(InterlockedCompareExchangePointer(slot(), nullptr, nullptr))); }
    // Keeps loaded unless another thread kept one first; gives the one kept.
    ComPtr<T> keep(ComPtr<T> loaded) {
        if (auto* previous = static_cast<T*>(InterlockedCompareExchangePointer(slot(), loaded.get(), nullptr)))
            return ComPtr<T>(previous);
        ComPtr<T> kept(loaded.get());
        loaded.detach(); // its reference now belongs to the slot
        return kept;
    }
    void release() {
        const ComPtr<T> dropped = ComPtr<T>::attach(static_cast<T*>(InterlockedExchangePointer(slot(), nullptr)));
    }

private:
    void** slot() { return reinterpret_cast<void**>(&value_); }
    T* value_ = nullptr;
};

KeptOnce<ITypeLib> typeLib;
std::array<KeptOnce<ITypeInfo>, 2> typeInfos;

// A dual interface is described as a dispinterface; the objects are invoked through its vtable side.
HRESULT vtableSide(ComPtr<ITypeInfo>& info) {
    TypeAttributes attributes;
    HRESULT hr = attributes.load(info.get());
    if (FAILED(hr)) return hr;
    if (attributes->typekind != TKIND_DISPATCH || !(attributes->wTypeFlags & TYPEFLAG_FDUAL)) return S_OK;
    HREFTYPE vtable = 0;
    hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> vtableInfo;
    hr = info->GetRefTypeInfo(vtable, vtableInfo.out());
    if (SUCCEEDED(hr)) info = std::move(vtableInfo);
    return hr;
}

// The arguments as the type information expects them, in arguments (a copy of params' own). A
// VT_BYREF|VT_VARIANT holding a string becomes a reference to that string (the callee may write
// through it); one holding anything else is passed by value, held in byValue. References must not
// be null.
HRESULT adjustArguments(const DISPPARAMS& params, std::vector<VARIANTARG>& arguments, std::vector<Variant>& byValue,
                        UINT* argumentError) {
    arguments.assign(params.rgvarg, params.rgvarg + params.cArgs);
    byValue.reserve(params.cArgs);
    for (UINT i = 0; i < params.cArgs; ++i) {
        VARIANTARG& argument = arguments[i];
        if ((V_VT(&argument) & VT_BYREF) && !V_BYREF(&argument)) {
            if (argumentError) *argumentError = i;
            return DISP_E_TYPEMISMATCH;
        }
        if (V_VT(&argument) != (VT_BYREF | VT_VARIANT)) continue;
        VARIANT* inner = V_VARIANTREF(&argument);
        if (V_VT(inner) == VT_BSTR) {
            V_VT(&argument) = VT_BYREF | VT_BSTR;
            V_BSTRREF(&argument) = &V_BSTR(inner);
            continue;
        }
        byValue.emplace_back();
        if (FAILED(copyByValue(byValue.back(), &argument))) {
            if (argumentError) *argumentError = i;
            return DISP_E_TYPEMISMATCH;
        }
        argument = byValue.back().ref();
    }
    return S_OK;
}

} // namespace

const IID& interfaceOf(TypeId id) { return id == TypeId::valtrove ? IID__Valtrove : IID_Collection; }

HRESULT getTypeLib(ITypeLib** out) {
    *out = nullptr;
    ComPtr<ITypeLib> lib = typeLib.get();
    if (!lib) {
        ComPtr<ITypeLib> loaded;
        const HRESULT hr = LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, loaded.out());
        if (FAILED(hr)) return hr;
        lib = typeLib.keep(std::move(loaded));
    }
    *out = lib.detach();
    return S_OK;
}

HRESULT getTypeInfo(TypeId id, ITypeInfo** out) {
    *out = nullptr;
    KeptOnce<ITypeInfo>& slot = typeInfos[static_cast<size_t>(id)];
    ComPtr<ITypeInfo> info = slot.get();
    if (!info) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = getTypeLib(lib.out());
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> found;
        hr = lib->GetTypeInfoOfGuid(interfaceOf(id), found.out());
        if (SUCCEEDED(hr)) hr = vtableSide(found);
        if (FAILED(hr)) return hr;
        info = slot.keep(std::move(found));
    }
    *out = info.detach();
    return S_OK;
}

void releaseTypeInformation() {
    for (KeptOnce<ITypeInfo>& info : typeInfos) info.release();
    typeLib.release();
}

HRESULT getTypeInfoForDispatch(TypeId id, UINT index, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return getTypeInfo(id, out);
}

HRESULT getIdsOfNamesThroughTypeInfo(TypeId id, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i)
        if (!names[i]) return E_POINTER;
    ComPtr<ITypeInfo> info;
    const HRESULT hr = getTypeInfo(id, info.out());
    if (FAILED(hr)) return hr;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT invokeThroughTypeInfo(TypeId id, IUnknown* object, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    std::vector<VARIANTARG> arguments;
    std::vector<Variant> byValue;
    HRESULT hr = adjustArguments(*params, arguments, byValue, argumentError);
    if (FAILED(hr)) return hr;
    DISPPARAMS adjusted{arguments.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};

    ComPtr<ITypeInfo> info;
    hr = getTypeInfo(id, info.out());
    if (FAILED(hr)) return hr;
    hr = info->Invoke(object, member, flags, &adjusted, result, exception, argumentError);
    // JScript calls getters such as _NewEnum and Count as methods.
    if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_METHOD)
        hr = info->Invoke(object, member, DISPATCH_PROPERTYGET, &adjusted, result, exception, argumentError);
    return hr;
}

HRESULT automationHresult(int number) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number) & 0xFFFFu);
}

HRESULT raiseError(int number, std::wstring_view description, REFIID iid) {
    const HRESULT code = automationHresult(number);
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.out()))) return code;
    create->SetGUID(iid);
    Bstr source(kProgId);
    Bstr text(description);
    create->SetSource(source.get());
    create->SetDescription(text.get());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.outVoid()))) SetErrorInfo(0, info.get());
    return code;
}

HRESULT raiseError(const AutomationError& error, REFIID iid) {
    return raiseError(error.number, widen(error.description), iid);
}

} // namespace vtc
