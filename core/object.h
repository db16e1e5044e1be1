// The object framework: reference counting, interface lookup, the class
// root templates and the one class factory template.
#ifndef TAVOCOM_CORE_OBJECT_H
#define TAVOCOM_CORE_OBJECT_H

#include <tavocom/tavocom.h>

#include <new>
#include <utility>

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

/// Initialisation of an object that needs none.
struct NoInit {
    template <class T>
    COM_HRESULT operator()(T&) const noexcept {
        return S_OK;
    }
};

/// The one road by which an object of this library comes into being:
/// allocate and construct a T from `args` (failure: E_OUTOFMEMORY, `out`
/// untouched), give it its first reference, run `init` on it, ask it for
/// `iid` into `out`, and drop the creation reference. When `init` or the
/// interface request fails, that drop destroys the object, so the module
/// count is back where it was; an exception from `init` does the same.
template <class T, class Init, class... Args>
COM_HRESULT CreateObjectWith(Init&& init, const _COM_GUID& iid, void** out, Args&&... args) {
    T* object = nullptr;
    try {
        object = new (std::nothrow) T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        object = nullptr; // a constructor that itself ran out of memory
    }
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    utlAutoIf<T> creation(object);
    COM_HRESULT hr = init(*object);
    if (COM_FAILED(hr)) return hr;
    return object->QueryInterface(iid, out);
}

template <class T, class... Args>
COM_HRESULT CreateObject(const _COM_GUID& iid, void** out, Args&&... args) {
    return CreateObjectWith<T>(NoInit{}, iid, out, std::forward<Args>(args)...);
}

/// Typed form for an out argument of interface I.
template <class T, class I, class... Args>
COM_HRESULT CreateObject(I** out, const _COM_GUID& iid, Args&&... args) {
    return CreateObject<T>(iid, reinterpret_cast<void**>(out), std::forward<Args>(args)...);
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
        return tavo::core::CreateObjectWith<T>([](T& object) { return object.FinalConstruct(); }, iid, out);
    }
};

#endif
