// Library entry points (DllMain, DllGetClassObject, DllCanUnloadNow), the module count and the
// class factory.
#include "valuestore/com/module.h"

#include "ValtroveCtrl_h.h"
#include "common/win32/module_path.h"
#include "valuestore/com/automation.h"
#include "valuestore/com/com_object.h"

namespace vtc {
namespace {

HINSTANCE instance = nullptr;
LONG lockCount = 0;

// One class factory serves every class of the table; the factories are static and do not hold
// the module (LockServer does).
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** out);

class ClassFactory final : public IClassFactory {
public:
    constexpr explicit ClassFactory(CreateFunction create) : create_(create) {}

    static InterfaceTable<ClassFactory> interfaces() {
        static constexpr InterfaceEntry<ClassFactory> table[] = {
            interfaceEntry<ClassFactory, IClassFactory>(IID_IClassFactory)};
        return table;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return queryInterface(*this, interfaces(), riid, out);
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

} // namespace

HINSTANCE moduleInstance() { return instance; }

std::wstring modulePath() { return qz::win32::modulePath(instance); }

void lockModule() { InterlockedIncrement(&lockCount); }
void unlockModule() { InterlockedDecrement(&lockCount); }
long moduleLockCount() { return InterlockedCompareExchange(&lockCount, 0, 0); }

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
