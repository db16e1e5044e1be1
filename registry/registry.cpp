#include "registry/registry.h"

#include <cstring>
#include <new>
#include <vector>

#include "core/ansi.h"
#include "core/raise.h"
#include "platform/platform.h"
#include "registry/enum_items.h"
#include "registry/tree.h"

namespace tavo::registry {

using core::ToAnsi;
using core::FromAnsi;

COM_CClassFactory<CRegistry> g_registryFactory;

COM_HRESULT CRegistry::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {
        {&COM_IID_IRegistry, static_cast<COM_IRegistry*>(this)},
        {&COM_IID_IRegistryBatch, static_cast<COM_IRegistryBatch*>(this)},
    };
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CRegistry::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CRegistry::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CRegistry::Close() {
    m_current.Reset();
    return S_OK;
}

// Null key names are refused: a null taken as "" would make DeleteKey
// remove the current key itself. Null value names address the default value.
COM_HRESULT CRegistry::OpenKey(const COM_WCHAR* name) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (!name || !ToAnsi(name, &n)) return E_INVALIDARG;
        plat::RegKey key;
        uint32_t e = plat::RegOpenKeyExA(m_current.Get(), n.c_str(), m_access, key.Put());
        if (e != 0) return StatusFromPlatform(e);
        m_current = std::move(key);
        return S_OK;
    });
}

COM_HRESULT CRegistry::CreateKey(const COM_WCHAR* name, int32_t enter) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (!name || !ToAnsi(name, &n)) return E_INVALIDARG;
        plat::RegKey key;
        uint32_t e = plat::RegCreateKeyExA(m_current.Get(), n.c_str(), m_access, key.Put(), nullptr);
        if (e != 0) return StatusFromPlatform(e);
        if (enter) m_current = std::move(key);
        return S_OK;
    });
}

COM_HRESULT CRegistry::DeleteKey(const COM_WCHAR* name) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (!name || !ToAnsi(name, &n)) return E_INVALIDARG;
        return StatusFromPlatform(DeleteTree(m_current.Get(), n.c_str(), m_access));
    });
}

COM_HRESULT CRegistry::SetStringValue(const COM_WCHAR* name, const COM_WCHAR* text) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n, t;
        if ((name && !ToAnsi(name, &n)) || !text || !ToAnsi(text, &t)) return E_INVALIDARG;
        uint32_t e = plat::RegSetValueExA(m_current.Get(), n.c_str(), plat::kRegSz,
                                          reinterpret_cast<const uint8_t*>(t.c_str()), uint32_t(t.size() + 1));
        return StatusFromPlatform(e);
    });
}

COM_HRESULT CRegistry::GetStringValue(const COM_WCHAR* name, COM_BSTR* text) {
    if (!m_current) return E_FAIL;
    if (!text) return E_POINTER;
    *text = nullptr;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (name && !ToAnsi(name, &n)) return E_INVALIDARG;
        // Most values are short: one read into a small buffer serves them,
        // and only longer data is sized first and read again.
        char small[256];
        uint32_t got = sizeof small - 1;
        uint32_t e = plat::RegQueryValueExA(m_current.Get(), n.c_str(), nullptr, reinterpret_cast<uint8_t*>(small), &got);
        char* data = small;
        std::vector<char> buffer;
        if (e == plat::kErrorMoreData) {
            uint32_t size = 0;
            e = plat::RegQueryValueExA(m_current.Get(), n.c_str(), nullptr, nullptr, &size);
            if (e != 0) return StatusFromPlatform(e);
            // One byte more than reported, and room for a terminator after
            // it, so that data stored without one still ends.
            buffer.assign(size_t(size) + 2, '\0');
            got = size + 1;
            e = plat::RegQueryValueExA(m_current.Get(), n.c_str(), nullptr, reinterpret_cast<uint8_t*>(buffer.data()),
                                       &got);
            data = buffer.data();
        }
        if (e != 0) return StatusFromPlatform(e);
        data[got] = '\0';
        COM_BSTR result = FromAnsi(data);
        if (!result) return E_OUTOFMEMORY;
        *text = result;
        return S_OK;
    });
}

COM_HRESULT CRegistry::SetDWordValue(const COM_WCHAR* name, uint32_t value) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (name && !ToAnsi(name, &n)) return E_INVALIDARG;
        uint8_t bytes[4];
        std::memcpy(bytes, &value, sizeof bytes);
        return StatusFromPlatform(plat::RegSetValueExA(m_current.Get(), n.c_str(), plat::kRegDword, bytes, 4));
    });
}

COM_HRESULT CRegistry::GetDWordValue(const COM_WCHAR* name, uint32_t* value) {
    if (!m_current) return E_FAIL;
    if (!value) return E_POINTER;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (name && !ToAnsi(name, &n)) return E_INVALIDARG;
        // Straight into the caller's number: shorter data leaves its other
        // bytes as they were.
        uint32_t size = 4;
        return StatusFromPlatform(
            plat::RegQueryValueExA(m_current.Get(), n.c_str(), nullptr, reinterpret_cast<uint8_t*>(value), &size));
    });
}

COM_HRESULT CRegistry::DeleteValue(const COM_WCHAR* name) {
    if (!m_current) return E_FAIL;
    return core::Guarded([&]() -> COM_HRESULT {
        core::ShortText n;
        if (name && !ToAnsi(name, &n)) return E_INVALIDARG;
        // A value that is not there is answered without a change: inside a
        // write batch a failed change would drop the whole batch.
        if (m_access & plat::kKeySetValue) {
            uint32_t e = plat::RegQueryValueExA(m_current.Get(), n.c_str(), nullptr, nullptr, nullptr);
            if (e == plat::kErrorFileNotFound || e == plat::kErrorKeyDeleted) return StatusFromPlatform(e);
        }
        return StatusFromPlatform(plat::RegDeleteValueA(m_current.Get(), n.c_str()));
    });
}

COM_HRESULT CRegistry::EnumKeys(COM_IEnumBSTR** out) { return EnumerateNames(m_current.Get(), false, out); }

COM_HRESULT CRegistry::EnumValues(COM_IEnumBSTR** out) { return EnumerateNames(m_current.Get(), true, out); }

COM_HRESULT CreateRegistryObject(COM_IRegistry** out) noexcept {
    return core::CreateObject<CRegistry>(out, COM_IID_IRegistry);
}

} // namespace tavo::registry
