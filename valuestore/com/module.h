// Per-library state of ValtroveCtrl.ocx: the module handle and the count of live objects and class
// factory locks that DllCanUnloadNow reports. module.cpp also holds the class factory and the
// library's entry points.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace vtc {

HINSTANCE moduleInstance();
// Full path of this library file.
std::wstring modulePath();

// Every live object and every LockServer(TRUE) holds the module once.
void lockModule();
void unlockModule();
long moduleLockCount();

// Removes the control's window class when the library unloads.
void unregisterControlWindowClass();

// Creates a Valtrove control object (class factory entry).
HRESULT createValtrove(IUnknown* outer, REFIID riid, void** out);

} // namespace vtc
