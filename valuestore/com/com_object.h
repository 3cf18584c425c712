// The IUnknown side that every object of the library shares: QueryInterface answered from a table
// of the interfaces an object implements, and the reference count of an object made with new,
// which holds the module (DllCanUnloadNow) while it lives.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>

#include "valuestore/com/module.h"

namespace vtc {

// One row of an object's interface table: an interface id and the base of Object that answers it.
template <typename Object>
struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*reach)(Object& object);
};

template <typename Object>
using InterfaceTable = std::span<const InterfaceEntry<Object>>;

// The row for iid, answered through Object's base Interface.
template <typename Object, typename Interface>
constexpr InterfaceEntry<Object> interfaceEntry(const IID& iid) {
    return {&iid, [](Object& object) -> IUnknown* { return static_cast<Interface*>(&object); }};
}

// QueryInterface from a table; the first row's interface is also the object's IUnknown. The
// interface handed out gets its reference through its own AddRef.
template <typename Object>
HRESULT queryInterface(Object& object, InterfaceTable<Object> table, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const InterfaceEntry<Object>& entry : table) {
        if (!IsEqualIID(riid, *entry.iid) && !(&entry == table.data() && IsEqualIID(riid, IID_IUnknown))) continue;
        IUnknown* found = entry.reach(object);
        found->AddRef();
        *out = found;
        return S_OK;
    }
    return E_NOINTERFACE;
}

// The interfaces of Derived, answered by QueryInterface from `static InterfaceTable<Derived>
// interfaces()`, which Derived builds from entry<Interface>(iid). Reference counting is left to
// the classes below.
template <typename Derived, typename... Interfaces>
class InterfacesOf : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return queryInterface(static_cast<Derived&>(*this), Derived::interfaces(), riid, out);
    }

protected:
    InterfacesOf() = default;
    ~InterfacesOf() = default;

    template <typename Interface>
    static constexpr InterfaceEntry<Derived> entry(const IID& iid) {
        return interfaceEntry<Derived, Interface>(iid);
    }
};

// An object made with new: one reference at birth, deleted by its last Release, the module held
// from its construction to the end of its destruction.
template <typename Derived, typename... Interfaces>
class ComObject : public InterfacesOf<Derived, Interfaces...> {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    ComObject() { lockModule(); }
    // Virtual so that the last Release destroys the whole object; runs after Derived's members are
    // gone (their last releases may still run code of this library).
    virtual ~ComObject() { unlockModule(); }

private:
    LONG refs_ = 1;
};

// An object that lives inside another one, its owner, and shares the owner's reference count.
template <typename Derived, typename... Interfaces>
class ContainedObject : public InterfacesOf<Derived, Interfaces...> {
public:
    explicit ContainedObject(IUnknown* owner) : owner_(owner) {}
    ContainedObject(const ContainedObject&) = delete;
    ContainedObject& operator=(const ContainedObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

private:
    IUnknown* owner_;
};

} // namespace vtc
