// The object framework: reference counting, interface lookup, the class
// root templates and the one class factory template.
#ifndef TAVOCOM_CORE_OBJECT_H
#define TAVOCOM_CORE_OBJECT_H

#include <tavocom/tavocom.h>

#include <new>

#include "core/module.h"

namespace tavo::core {

/// AddRef of an object's plain count: the first reference adds the object
/// to the module count.
inline uint32_t RefAddRef(uint32_t& count) noexcept {
    if (count == 0) ModuleLock();
    return ++count;
}

/// Release of an object's plain count: the last one destroys the object,
/// then takes it off the module count.
template <class T>
uint32_t RefRelease(uint32_t& count, T* self) noexcept {
    uint32_t left = --count;
    if (left != 0) return left;
    delete self;
    ModuleUnlock();
    return 0;
}

/// One row of an object's interface table: an identifier and the object's
/// pointer as that interface.
struct InterfaceEntry {
    const _COM_GUID* iid;
    COM_IUnknown* itf;
};

/// QueryInterface over a table whose first row is the object's first
/// interface, which also answers COM_IUnknown.
template <size_t N>
COM_HRESULT QueryInterfaceTable(const InterfaceEntry (&table)[N], const _COM_GUID& iid, void** out) noexcept {
    COM_IUnknown* found = nullptr;
    if (iid == COM_IID_IUnknown) {
        found = table[0].itf;
    } else {
        for (const InterfaceEntry& e : table)
            if (iid == *e.iid) {
                found = e.itf;
                break;
            }
    }
    if (!found) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    found->AddRef();
    *out = found;
    return S_OK;
}

} // namespace tavo::core

/// Marks a reference-counted class of the class object map. No data.
class COM_CComObjectRoot {
public:
    /// Initialisation run by the factory after the first reference; a class
    /// that needs one hides this with its own.
    COM_HRESULT FinalConstruct() noexcept { return S_OK; }
};

/// Binds class T to its class identifier constant. No data.
template <class T, const _COM_GUID* Clsid>
class COM_CComCoClass {
public:
    static const _COM_GUID& GetClassId() noexcept { return *Clsid; }
};

/// The one class factory of class T: a static instance with no data and no
/// count of its own; its references count on the module count only.
template <class T>
class COM_CClassFactory final : public COM_IClassFactory {
public:
    constexpr COM_CClassFactory() noexcept = default;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (iid == COM_IID_IUnknown || iid == COM_IID_IClassFactory) {
            AddRef();
            *out = static_cast<COM_IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override {
        tavo::core::ModuleLock();
        return 1;
    }
    uint32_t Release() override {
        tavo::core::ModuleUnlock();
        return 1;
    }
    COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) override {
        T* object = nullptr;
        try {
            object = new (std::nothrow) T();
        } catch (const std::bad_alloc&) {
            object = nullptr;
        }
        if (!object) return E_OUTOFMEMORY;
        object->AddRef();
        COM_HRESULT hr = object->FinalConstruct();
        if (COM_FAILED(hr)) {
            object->Release();
            return hr;
        }
        hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

#endif
