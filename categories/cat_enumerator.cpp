#include <tavocom/tavocom.h>

#include "categories/enumerators.h"

namespace tavo::categories {
namespace {

constexpr uint32_t kDescriptionRoom = sizeof(COM_CATEGORYINFO::szDescription) / sizeof(COM_WCHAR);

// A record in task memory, freed unless handed to the caller.
struct TaskRecord {
    COM_CATEGORYINFO* p = static_cast<COM_CATEGORYINFO*>(plat::CoTaskMemAlloc(sizeof(COM_CATEGORYINFO)));
    ~TaskRecord() { plat::CoTaskMemFree(p); }
    COM_CATEGORYINFO* Detach() noexcept { return std::exchange(p, nullptr); }
};

// A description longer than the record holds is cut at 255 characters.
void CopyDescription(COM_BSTR text, COM_CATEGORYINFO& record) {
    uint32_t n = 0;
    for (uint32_t length = plat::SysStringLen(text); n < length && n + 1 < kDescriptionRoom && text[n]; ++n)
        record.szDescription[n] = text[n];
    record.szDescription[n] = 0;
}

} // namespace

COM_HRESULT CCatEnumerator::Initialize(COM_IRegistry* registry) noexcept {
    Hold(registry);
    return core::Guarded([&] {
        core::Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES}));
        core::Check(ReadSubkeyNames(m_registry.Get(), m_names));
        m_position = 0;
        return S_OK;
    });
}

COM_HRESULT CCatEnumerator::Next(uint32_t wanted, COM_CATEGORYINFO** items, uint32_t* fetched) {
    if (m_names.empty()) return S_FALSE;
    if (!items || !fetched) return E_POINTER;
    *fetched = 0;
    const uint32_t end = m_position + Available(wanted);
    return core::Guarded([&] {
        while (m_position < end) {
            TaskRecord record;
            if (!record.p) return E_OUTOFMEMORY;
            const COM_WCHAR* name = m_names[m_position].Get();
            core::Check(COM_StringToCLSID(name, &record.p->catid));
            utlAutoBstr description;
            core::Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES, name}));
            core::Check(m_registry->GetStringValue(COM_TEXT(""), description.Put()));
            core::Check(m_registry->Close());
            CopyDescription(description.Get(), *record.p);
            items[(*fetched)++] = record.Detach();
            ++m_position;
        }
        return *fetched == wanted ? S_OK : S_FALSE;
    });
}

} // namespace tavo::categories
