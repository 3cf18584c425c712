// Library entry points (DllMain, DllGetClassObject, DllCanUnloadNow), the generic class factory,
// the type information cache and the IDispatch helpers shared by the objects.
#include "valuestore/com/module.h"

#include <olectl.h>

#include <array>
#include <new>
#include <vector>

#include "ValtroveCtrl_h.h"
#include "common/win32/module_path.h"
#include "valuestore/com/com_util.h"

namespace vtc {
namespace {

HINSTANCE instance = nullptr;
LONG lockCount = 0;

ITypeLib* typeLib = nullptr;
std::array<ITypeInfo*, 2> typeInfos{};

const IID& interfaceOf(TypeId id) { return id == TypeId::valtrove ? IID__Valtrove : IID_Collection; }

// One class factory serves every class of the table; the factories are static and do not hold
// the module (LockServer does).
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** out);

class ClassFactory final : public IClassFactory {
public:
    constexpr explicit ClassFactory(CreateFunction create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(outer, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            lockModule();
        else
            unlockModule();
        return S_OK;
    }

private:
    CreateFunction create_;
};

ClassFactory valtroveFactory{&createValtrove};

struct ClassEntry {
    const CLSID* clsid;
    ClassFactory* factory;
};
const ClassEntry classTable[] = {
    {&CLSID_Valtrove, &valtroveFactory},
};

void releaseTypeInformation() {
    for (ITypeInfo*& info : typeInfos) {
        if (info) info->Release();
        info = nullptr;
    }
    if (typeLib) typeLib->Release();
    typeLib = nullptr;
}

// Stores a freshly loaded pointer unless another thread got there first.
template <typename T>
T* publishOnce(T*& slot, T* loaded) {
    T* previous = static_cast<T*>(InterlockedCompareExchangePointer(reinterpret_cast<void**>(&slot), loaded, nullptr));
    if (previous) {
        loaded->Release();
        return previous;
    }
    return loaded;
}

} // namespace

HINSTANCE moduleInstance() { return instance; }

std::wstring modulePath() { return qz::win32::modulePath(instance); }

void lockModule() { InterlockedIncrement(&lockCount); }
void unlockModule() { InterlockedDecrement(&lockCount); }
long moduleLockCount() { return InterlockedCompareExchange(&lockCount, 0, 0); }

HRESULT getTypeLib(ITypeLib** out) {
    *out = nullptr;
    ITypeLib* lib =
        static_cast<ITypeLib*>(InterlockedCompareExchangePointer(reinterpret_cast<void**>(&typeLib), nullptr, nullptr));
    if (!lib) {
        const std::wstring path = modulePath();
        ITypeLib* loaded = nullptr;
        const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded);
        if (FAILED(hr)) return hr;
        lib = publishOnce(typeLib, loaded);
    }
    lib->AddRef();
    *out = lib;
    return S_OK;
}

HRESULT getTypeInfo(TypeId id, ITypeInfo** out) {
    *out = nullptr;
    ITypeInfo*& slot = typeInfos[static_cast<size_t>(id)];
    ITypeInfo* info =
        static_cast<ITypeInfo*>(InterlockedCompareExchangePointer(reinterpret_cast<void**>(&slot), nullptr, nullptr));
    if (!info) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = getTypeLib(lib.out());
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> found;
        hr = lib->GetTypeInfoOfGuid(interfaceOf(id), found.out());
        if (FAILED(hr)) return hr;
        // A dual interface is described as a dispinterface; invoke through its vtable side.
        TYPEATTR* attr = nullptr;
        hr = found->GetTypeAttr(&attr);
        if (FAILED(hr)) return hr;
        const bool dualDispatch = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        found->ReleaseTypeAttr(attr);
        if (dualDispatch) {
            HREFTYPE vtableSide = 0;
            hr = found->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableSide);
            if (FAILED(hr)) return hr;
            ComPtr<ITypeInfo> vtableInfo;
            hr = found->GetRefTypeInfo(vtableSide, vtableInfo.out());
            if (FAILED(hr)) return hr;
            found = std::move(vtableInfo);
        }
        info = publishOnce(slot, found.detach());
    }
    info->AddRef();
    *out = info;
    return S_OK;
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

HRESULT invokeThroughTypeInfo(TypeId id, IUnknown* object, DISPID member, REFIID riid, LCID, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;

    // Arguments as the type information expects them. A VT_BYREF|VT_VARIANT holding a string
    // becomes a reference to that string (the callee may write through it); one holding anything
    // else is passed by value. References must not be null.
    std::vector<VARIANTARG> arguments(params->rgvarg, params->rgvarg + params->cArgs);
    std::vector<Variant> byValue;
    byValue.reserve(params->cArgs);
    for (UINT i = 0; i < params->cArgs; ++i) {
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
        if (FAILED(copyByValue(byValue.back().get(), &argument))) {
            if (argumentError) *argumentError = i;
            return DISP_E_TYPEMISMATCH;
        }
        argument = byValue.back().ref();
    }
    DISPPARAMS adjusted{arguments.data(), params->rgdispidNamedArgs, params->cArgs, params->cNamedArgs};

    ComPtr<ITypeInfo> info;
    HRESULT hr = getTypeInfo(id, info.out());
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

std::wstring_view standardDescription(int number) {
    switch (number) {
    case automationError::invalidArgument: return L"Invalid procedure call or argument";
    case automationError::outOfMemory: return L"Out of memory";
    case automationError::subscriptOutOfRange: return L"Subscript out of range";
    case automationError::typeMismatch: return L"Type mismatch";
    case automationError::invalidUseOfNull: return L"Invalid use of Null";
    case automationError::duplicateKey: return L"This key is already associated with an element of this collection";
    default: return L"Application-defined or object-defined error";
    }
}

HRESULT raiseError(int number, std::wstring_view description, REFIID iid) {
    const HRESULT code = automationHresult(number);
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.out()))) return code;
    create->SetGUID(iid);
    Bstr source(L"ValtroveCTL.Valtrove");
    Bstr text(description);
    create->SetSource(source.get());
    create->SetDescription(text.get());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.outVoid()))) SetErrorInfo(0, info.get());
    return code;
}

HRESULT raiseError(int number, REFIID iid) { return raiseError(number, standardDescription(number), iid); }

} // namespace vtc

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        vtc::instance = module;
        DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved set) other libraries may be gone already: leave them.
        if (!reserved) {
            vtc::releaseTypeInformation();
            vtc::unregisterControlWindowClass();
        }
        break;
    default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const vtc::ClassEntry& entry : vtc::classTable)
        if (IsEqualCLSID(clsid, *entry.clsid)) return entry.factory->QueryInterface(riid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return vtc::moduleLockCount() == 0 ? S_OK : S_FALSE; }
