#include <tavocom/tavocom.h>

#include "categories/enumerators.h"
#include "core/utility.h"

namespace tavo::categories {

COM_HRESULT CClsidEnumerator::Initialize(const _COM_GUID& category, COM_IRegistry* registry) noexcept {
    Hold(registry);
    return core::Guarded([&] {
        core::Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES}));
        utlAutoBstr text;
        core::Check(core::CLSIDToString(category, text.Put()));
        core::Check(m_registry->OpenKey(text.Get()));
        core::Check(ReadSubkeyNames(m_registry.Get(), m_names));
        core::Check(m_registry->Close());
        m_position = 0;
        return S_OK;
    });
}

COM_HRESULT CClsidEnumerator::Next(uint32_t wanted, _COM_GUID** items, uint32_t* fetched) {
    if (m_names.empty()) return S_FALSE;
    if (!items || !fetched) return E_POINTER;
    *fetched = 0;
    const uint32_t end = m_position + Available(wanted);
    while (m_position < end) {
        auto* record = static_cast<_COM_GUID*>(plat::CoTaskMemAlloc(sizeof(_COM_GUID)));
        if (!record) return E_OUTOFMEMORY;
        COM_HRESULT hr = COM_StringToCLSID(m_names[m_position].Get(), record);
        if (COM_FAILED(hr)) {
            plat::CoTaskMemFree(record);
            return hr;
        }
        items[(*fetched)++] = record;
        ++m_position;
    }
    return *fetched == wanted ? S_OK : S_FALSE;
}

} // namespace tavo::categories
