// Per-library state of ValtroveCtrl.ocx: the module handle, the count of live objects and class
// factory locks that DllCanUnloadNow reports, the type information read from the embedded type
// library, and the automation error helpers shared by the objects.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

namespace vtc {

HINSTANCE moduleInstance();
// Full path of this library file.
std::wstring modulePath();

// Every live object and every LockServer(TRUE) holds the module once.
void lockModule();
void unlockModule();
long moduleLockCount();

// The interfaces whose type information the objects dispatch through.
enum class TypeId { valtrove, collection };

// Type information of the vtable side of the interface, read from the type library embedded in
// this file (resource "TYPELIB" 1) and kept until the library unloads. On failure *out is null.
HRESULT getTypeInfo(TypeId id, ITypeInfo** out);
// The embedded type library itself.
HRESULT getTypeLib(ITypeLib** out);

// IDispatch::Invoke delegated to the type information, with the two conversions that script hosts
// need: a string passed by reference as VT_BYREF|VT_VARIANT reaches a BSTR* parameter, and a
// property getter called as a method (DISPATCH_METHOD only) is answered as a getter.
HRESULT invokeThroughTypeInfo(TypeId id, IUnknown* object, DISPID member, REFIID riid, LCID lcid, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError);
HRESULT getIdsOfNamesThroughTypeInfo(TypeId id, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT getTypeInfoForDispatch(TypeId id, UINT index, ITypeInfo** out);

// Automation error numbers raised by the objects themselves (the value store raises its own).
namespace automationError {
inline constexpr int invalidArgument = 5;     // "Invalid procedure call or argument"
inline constexpr int outOfMemory = 7;         // "Out of memory"
inline constexpr int subscriptOutOfRange = 9; // "Subscript out of range"
inline constexpr int typeMismatch = 13;       // "Type mismatch"
inline constexpr int invalidUseOfNull = 94;   // "Invalid use of Null"
inline constexpr int duplicateKey = 457;      // "This key is already associated with an element of this collection"
} // namespace automationError

// HRESULT of an automation error number: 0x800A0000 | number.
HRESULT automationHresult(int number);
// Publishes an IErrorInfo (number's HRESULT, description, source, interface) for the calling thread
// and returns the HRESULT, for an object that answers ISupportErrorInfo for that interface.
HRESULT raiseError(int number, std::wstring_view description, REFIID iid);
HRESULT raiseError(int number, REFIID iid); // with the standard description of the number
std::wstring_view standardDescription(int number);

// Removes the control's window class when the library unloads.
void unregisterControlWindowClass();

// Creates a Valtrove control object (class factory entry).
HRESULT createValtrove(IUnknown* outer, REFIID riid, void** out);

} // namespace vtc
