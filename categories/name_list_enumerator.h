// What the category enumerator and the class-of-category enumerator share:
// a list of key names read once at initialisation, a position over it, a
// registry object shared with the manager and with clones, and every slot
// but Next. The record each hands out is the derived class's business.
#ifndef TAVOCOM_CATEGORIES_NAME_LIST_ENUMERATOR_H
#define TAVOCOM_CATEGORIES_NAME_LIST_ENUMERATOR_H

#include <tavocom/tavocom.h>

#include <utility>
#include <vector>

#include "core/object.h"
#include "core/raise.h"
#include "platform/platform.h"

namespace tavo::categories {

using NameList = std::vector<plat::OwnedBstr>;

/// Reads the names of the subkeys of the current key of `registry`, three
/// at a time, into `names`; stops after the first short batch.
COM_HRESULT ReadSubkeyNames(COM_IRegistry* registry, NameList& names);

/// Owned copies of every name (a null name stays null); raises
/// E_OUTOFMEMORY when a copy cannot be made.
NameList CopyNames(const NameList& names);

/// Base of both enumerators. `Derived` supplies kIid (its interface),
/// Next, and its initialisation; `Interface` is the enumerator interface.
/// The position never moves past the end by SetPosition or Skip: a
/// position at or beyond it is refused with S_FALSE.
template <class Derived, class Interface>
class CNameListEnumerator : public Interface {
public:
    CNameListEnumerator() noexcept = default;
    /// A clone's state: copies of the names, the position, the same registry.
    CNameListEnumerator(NameList names, uint32_t position, COM_IRegistry* registry) noexcept
        : m_names(std::move(names)), m_position(position) {
        if (registry) registry->AddRef();
        m_registry.Reset(registry);
    }
    CNameListEnumerator(const CNameListEnumerator&) = delete;
    CNameListEnumerator& operator=(const CNameListEnumerator&) = delete;
    virtual ~CNameListEnumerator() = default;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        const core::InterfaceEntry table[] = {{&Derived::kIid, this}};
        return core::QueryInterfaceTable(table, iid, out);
    }
    uint32_t AddRef() override { return core::RefAddRef(m_refCount); }
    uint32_t Release() override { return core::RefRelease(m_refCount, static_cast<Derived*>(this)); }

    COM_HRESULT GetCount(uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = Count();
        return S_OK;
    }
    COM_HRESULT GetPosition(uint32_t* position) override {
        if (!position) return E_POINTER;
        *position = m_position;
        return S_OK;
    }
    COM_HRESULT SetPosition(uint32_t position) override {
        if (position >= Count()) return S_FALSE;
        m_position = position;
        return S_OK;
    }
    COM_HRESULT Skip(uint32_t steps) override {
        // In 64 bits: position + steps cannot wrap around to a valid index.
        if (uint64_t(m_position) + steps >= Count()) return S_FALSE;
        m_position += steps;
        return S_OK;
    }
    /// To the last name; with no names the position reads 0xFFFFFFFF.
    COM_HRESULT SeekEnd() override {
        m_position = Count() - 1;
        return S_OK;
    }
    COM_HRESULT Reset() override {
        m_position = 0;
        return S_OK;
    }
    COM_HRESULT Clone(Interface** out) override {
        if (!out) return E_POINTER;
        return core::Guarded([&] {
            NameList copies = CopyNames(m_names);
            return core::CreateObject<Derived>(out, Derived::kIid, std::move(copies), m_position, m_registry.Get());
        });
    }

protected:
    uint32_t Count() const noexcept { return uint32_t(m_names.size()); }
    /// Names not yet handed out, at most `wanted`; 0 from any position at
    /// or past the end (SeekEnd on an empty list leaves 0xFFFFFFFF).
    uint32_t Available(uint32_t wanted) const noexcept {
        uint32_t left = m_position < Count() ? Count() - m_position : 0;
        return wanted < left ? wanted : left;
    }
    /// Holds `registry` (a new reference unless it is the one held).
    void Hold(COM_IRegistry* registry) noexcept {
        if (registry == m_registry.Get()) return;
        if (registry) registry->AddRef();
        m_registry.Reset(registry);
    }

    uint32_t m_refCount = 0;
    NameList m_names;
    uint32_t m_position = 0;
    utlAutoIf<COM_IRegistry> m_registry;
};

} // namespace tavo::categories

#endif
