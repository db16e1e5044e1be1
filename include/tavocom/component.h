// Building blocks of a component library: the count of what keeps the
// library loaded, the reference count of its objects and the class factory
// that creates them. A component defines one COM_ComponentLocks of its own
// and answers CanUnloadNow from it:
//
//     namespace {
//     COM_ComponentLocks g_locks;
//     class Greeter final : public COM_ComponentObject<g_locks, IGreeter> { ... };
//     COM_ComponentFactory<Greeter, g_locks> g_factory;
//     }
//     COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }
//
// Everything here is instantiated over the component's own objects, so that
// two components loaded into one process never share a count.
#ifndef TAVOCOM_COMPONENT_H
#define TAVOCOM_COMPONENT_H

#include <atomic>
#include <new>

#include "identifiers.h"
#include "interfaces.h"

/// What keeps a component library loaded: its live objects and the
/// references held on its class factories.
class COM_ComponentLocks {
public:
    constexpr COM_ComponentLocks() noexcept = default;
    COM_ComponentLocks(const COM_ComponentLocks&) = delete;
    COM_ComponentLocks& operator=(const COM_ComponentLocks&) = delete;

    void Lock() noexcept { m_count.fetch_add(1, std::memory_order_relaxed); }
    void Unlock() noexcept { m_count.fetch_sub(1, std::memory_order_acq_rel); }
    /// The library's CanUnloadNow: S_OK when nothing holds it, else S_FALSE.
    COM_HRESULT CanUnloadNow() const noexcept { return m_count.load(std::memory_order_acquire) == 0 ? S_OK : S_FALSE; }

private:
    std::atomic<uint32_t> m_count{0};
};

/// One object of a component, implementing `Interfaces` (the first is its
/// identity) with one reference count. It holds the library from its
/// construction to the end of its destruction, and its last Release
/// deletes it. The derived class implements QueryInterface; make it final.
template <COM_ComponentLocks& Locks, class... Interfaces>
class COM_ComponentObject : public Interfaces... {
public:
    COM_ComponentObject(const COM_ComponentObject&) = delete;
    COM_ComponentObject& operator=(const COM_ComponentObject&) = delete;

    uint32_t AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        const uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    COM_ComponentObject() noexcept { Locks.Lock(); }
    // Virtual here, not in the interfaces: its slots follow theirs.
    virtual ~COM_ComponentObject() { Locks.Unlock(); }

private:
    std::atomic<uint32_t> m_refs{0};
};

/// The class factory of class T, which it default-constructs. It is a
/// static object of the library and never deleted; every reference held on
/// it holds the library.
template <class T, COM_ComponentLocks& Locks>
class COM_ComponentFactory final : public COM_IClassFactory {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == COM_IID_IUnknown || iid == COM_IID_IClassFactory) {
            AddRef();
            *out = static_cast<COM_IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override {
        Locks.Lock();
        return 1;
    }
    uint32_t Release() override {
        Locks.Unlock();
        return 1;
    }
    /// A new T as `iid`: E_OUTOFMEMORY when it cannot be allocated,
    /// E_NOINTERFACE (and the object gone again) when T lacks `iid`.
    COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        T* object = new (std::nothrow) T();
        if (!object) {
            *out = nullptr;
            return E_OUTOFMEMORY;
        }
        object->AddRef();
        const COM_HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

#endif
