#include "registry/enum_items.h"

#include <new>
#include <vector>

#include "core/object.h"
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

void FreeItems(COM_BSTR* items, uint32_t count) {
    if (!items) return;
    for (uint32_t i = 0; i < count; ++i) plat::SysFreeString(items[i]);
    delete[] items;
}

// Hands a new object out as COM_IEnumBSTR, or frees the array when the
// object cannot be made.
COM_HRESULT Publish(uint32_t count, COM_BSTR* items, uint32_t position, COM_IEnumBSTR** out) {
    auto* object = new (std::nothrow) CRegEnumItems(count, items, position);
    if (!object) {
        FreeItems(items, count);
        return E_OUTOFMEMORY;
    }
    object->AddRef();
    COM_HRESULT hr = object->QueryInterface(COM_IID_IEnumBSTR, reinterpret_cast<void**>(out));
    object->Release();
    return hr;
}

} // namespace

CRegEnumItems::CRegEnumItems(uint32_t count, COM_BSTR* items, uint32_t position) noexcept
    : m_position(position), m_count(count), m_items(items) {}

CRegEnumItems::~CRegEnumItems() { FreeItems(m_items, m_count); }

COM_HRESULT CRegEnumItems::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IEnumBSTR, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CRegEnumItems::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CRegEnumItems::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CRegEnumItems::GetCount(uint32_t* count) {
    if (!count) return E_POINTER;
    *count = m_count;
    return S_OK;
}

COM_HRESULT CRegEnumItems::GetPosition(uint32_t* position) {
    if (!position) return E_POINTER;
    *position = m_position;
    return S_OK;
}

// S_FALSE: taken as passed; S_OK: clamped to the end.
COM_HRESULT CRegEnumItems::SetPosition(uint32_t position) {
    if (position < m_count) {
        m_position = position;
        return S_FALSE;
    }
    m_position = m_count;
    return S_OK;
}

COM_HRESULT CRegEnumItems::Next(uint32_t wanted, COM_BSTR* items, uint32_t* fetched) {
    if (!items || !fetched) return E_POINTER;
    *fetched = 0;
    uint32_t done = 0;
    while (done < wanted && m_position < m_count) {
        items[done] = CopyItem(m_items[m_position]);
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
    m_position = m_count;
    return S_OK;
}

COM_HRESULT CRegEnumItems::Reset() {
    m_position = 0;
    return S_OK;
}

COM_HRESULT CRegEnumItems::Clone(COM_IEnumBSTR** out) {
    if (!out) return E_POINTER;
    auto* items = new (std::nothrow) COM_BSTR[m_count ? m_count : 1]();
    if (!items) return E_OUTOFMEMORY;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (!m_items[i]) continue;
        items[i] = CopyItem(m_items[i]);
        if (!items[i]) {
            FreeItems(items, i);
            return E_OUTOFMEMORY;
        }
    }
    return Publish(m_count, items, m_position, out);
}

COM_HRESULT EnumerateNames(plat::RegKeyHandle key, bool values, COM_IEnumBSTR** out) noexcept {
    if (!out) return E_POINTER;
    if (!key) return E_FAIL;
    try {
        uint32_t count = 0, longest = 0;
        uint32_t e = values ? plat::RegQueryInfoKeyA(key, nullptr, nullptr, &count, &longest)
                            : plat::RegQueryInfoKeyA(key, &count, &longest, nullptr, nullptr);
        if (e != 0) return StatusFromPlatform(e);
        auto* items = new (std::nothrow) COM_BSTR[count ? count : 1]();
        if (!items) return E_OUTOFMEMORY;
        std::vector<char> name(size_t(longest) + 1);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t size = longest + 1;
            e = values ? plat::RegEnumValueA(key, i, name.data(), &size, nullptr, nullptr, nullptr)
                       : plat::RegEnumKeyExA(key, i, name.data(), &size);
            if (e == plat::kErrorNoMoreItems) break; // the rest stay null
            if (e != 0) {
                FreeItems(items, count);
                return StatusFromPlatform(e);
            }
            name[size < longest + 1 ? size : longest] = 0;
            items[i] = FromAnsi(name.data());
            if (!items[i]) {
                FreeItems(items, count);
                return E_OUTOFMEMORY;
            }
        }
        return Publish(count, items, 0, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace tavo::registry
