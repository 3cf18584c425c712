// The automation side that the control and the collection share: the type information read once
// from the type library embedded in this file, the four IDispatch members answered through it,
// and automation errors published through IErrorInfo.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string_view>

#include "valuestore/com/control_facts.h"

namespace vtc {

// The dual interfaces whose type information the objects dispatch through.
enum class TypeId { valtrove, collection };

const IID& interfaceOf(TypeId id);

// Type information of the vtable side of the interface, read from the type library embedded in
// this file (resource "TYPELIB" 1) and kept until the library unloads. On failure *out is null.
HRESULT getTypeInfo(TypeId id, ITypeInfo** out);
// The embedded type library itself.
HRESULT getTypeLib(ITypeLib** out);
// Lets go of the type library and type information (when the library unloads).
void releaseTypeInformation();

// IDispatch::Invoke delegated to the type information, with the two conversions that script hosts
// need: a string passed by reference as VT_BYREF|VT_VARIANT reaches a BSTR* parameter, and a
// property getter called as a method (DISPATCH_METHOD only) is answered as a getter.
HRESULT invokeThroughTypeInfo(TypeId id, IUnknown* object, DISPID member, REFIID riid, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError);
HRESULT getIdsOfNamesThroughTypeInfo(TypeId id, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT getTypeInfoForDispatch(TypeId id, UINT index, ITypeInfo** out);

// HRESULT of an automation error number: 0x800A0000 | number.
HRESULT automationHresult(int number);
// Publishes an IErrorInfo (number's HRESULT, description, source, interface) for the calling thread
// and returns the HRESULT, for an object that answers ISupportErrorInfo for that interface.
HRESULT raiseError(int number, std::wstring_view description, REFIID iid);
HRESULT raiseError(const AutomationError& error, REFIID iid);

// The dual interface Interface of an object: its IDispatch members through the type information of
// kType, and ISupportErrorInfo for it. The object derives from this instead of from Interface.
template <typename Interface, TypeId kType>
class Automation : public Interface, public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        return getTypeInfoForDispatch(kType, index, out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return getIdsOfNamesThroughTypeInfo(kType, riid, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override {
        return invokeThroughTypeInfo(kType, static_cast<Interface*>(this), member, riid, flags, params, result,
                                     exception, argumentError);
    }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, interfaceOf(kType)) ? S_OK : S_FALSE;
    }

protected:
    // Raises error on this interface.
    static HRESULT raise(const AutomationError& error) { return raiseError(error, interfaceOf(kType)); }
    static HRESULT raise(int number, std::wstring_view description) {
        return raiseError(number, description, interfaceOf(kType));
    }
};

} // namespace vtc
