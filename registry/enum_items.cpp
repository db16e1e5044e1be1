#include "registry/enum_items.h"

#include <new>
#include <vector>

#include "core/ansi.h"
#include "core/object.h"
#include "core/raise.h"
#include "platform/platform.h"
#include "registry/registry.h"

namespace tavo::registry {
namespace {

// A fresh copy up to the first NUL; null stays null.
COM_BSTR CopyItem(COM_BSTR item) {
    if (!item) return nullptr;
    uint32_t n = 0;
    while (n < plat::SysStringLen(item) && item[n] != 0) ++n;
    return plat::SysAllocStringLen(item, n);
}

COM_HRESULT Publish(CRegEnumItems::Items& items, uint32_t position, COM_IEnumBSTR** out) {
    return core::CreateObject<CRegEnumItems>(out, COM_IID_IEnumBSTR, std::move(items), position);
}

} // namespace

CRegEnumItems::CRegEnumItems(Items items, uint32_t position) noexcept
    : m_position(position), m_items(std::move(items)) {}

COM_HRESULT CRegEnumItems::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IEnumBSTR, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CRegEnumItems::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CRegEnumItems::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CRegEnumItems::GetCount(uint32_t* count) {
    if (!count) return E_POINTER;
    *count = uint32_t(m_items.size());
    return S_OK;
}

COM_HRESULT CRegEnumItems::GetPosition(uint32_t* position) {
    if (!position) return E_POINTER;
    *position = m_position;
    return S_OK;
}

// S_FALSE: taken as passed; S_OK: clamped to the end.
COM_HRESULT CRegEnumItems::SetPosition(uint32_t position) {
    if (position < m_items.size()) {
        m_position = position;
        return S_FALSE;
    }
    m_position = uint32_t(m_items.size());
    return S_OK;
}

COM_HRESULT CRegEnumItems::Next(uint32_t wanted, COM_BSTR* items, uint32_t* fetched) {
    if (!items || !fetched) return E_POINTER;
    *fetched = 0;
    uint32_t done = 0;
    while (done < wanted && m_position < m_items.size()) {
        items[done] = CopyItem(m_items[m_position].Get());
        ++done;
        ++m_position;
    }
    *fetched = done;
    return done == wanted ? S_OK : S_FALSE;
}

COM_HRESULT CRegEnumItems::Skip(uint32_t steps) {
    m_position += steps;
    return S_OK;
}

COM_HRESULT CRegEnumItems::SeekEnd() {
    m_position = uint32_t(m_items.size());
    return S_OK;
}

COM_HRESULT CRegEnumItems::Reset() {
    m_position = 0;
    return S_OK;
}

COM_HRESULT CRegEnumItems::Clone(COM_IEnumBSTR** out) {
    if (!out) return E_POINTER;
    return core::Guarded([&] {
        Items copies(m_items.size());
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (!m_items[i]) continue;
            copies[i].Reset(CopyItem(m_items[i].Get()));
            if (!copies[i]) return E_OUTOFMEMORY;
        }
        return Publish(copies, m_position, out);
    });
}

COM_HRESULT EnumerateNames(plat::RegKeyHandle key, bool values, COM_IEnumBSTR** out) noexcept {
    if (!out) return E_POINTER;
    if (!key) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        uint32_t count = 0, longest = 0;
        uint32_t e = values ? plat::RegQueryInfoKeyA(key, nullptr, nullptr, &count, &longest)
                            : plat::RegQueryInfoKeyA(key, &count, &longest, nullptr, nullptr);
        if (e != 0) return StatusFromPlatform(e);
        // Every name made so far is owned here until the enumerator takes
        // them, so any failure below frees them all.
        CRegEnumItems::Items items(count);
        std::vector<char> name(size_t(longest) + 1);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t size = longest + 1;
            e = values ? plat::RegEnumValueA(key, i, name.data(), &size, nullptr, nullptr, nullptr)
                       : plat::RegEnumKeyExA(key, i, name.data(), &size);
            if (e == plat::kErrorNoMoreItems) break; // the rest stay null
            if (e != 0) return StatusFromPlatform(e);
            name[size < longest + 1 ? size : longest] = 0;
            items[i].Reset(core::FromAnsi(name.data()));
            if (!items[i]) return E_OUTOFMEMORY;
        }
        return Publish(items, 0, out);
    });
}

} // namespace tavo::registry
