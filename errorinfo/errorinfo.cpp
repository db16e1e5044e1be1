#include "errorinfo/errorinfo.h"

#include "core/object.h"
#include "platform/platform.h"

namespace tavo::errorinfo {
namespace {

// The current record: one slot for the whole process, holding one
// reference. Unguarded: callers on several threads serialise themselves.
// Its destructor is the termination handler that releases the record when
// the library's static data is torn down.
struct CurrentSlot {
    COM_IErrorInfo* record = nullptr;
    ~CurrentSlot() {
        COM_IErrorInfo* old = record;
        record = nullptr;
        if (old) old->Release();
    }
};
CurrentSlot g_current;

// A copy as long as the stored string (null stored: a new empty string).
COM_BSTR CopyOf(COM_BSTR stored) { return plat::SysAllocStringLen(stored, plat::SysStringLen(stored)); }

} // namespace

COM_HRESULT CErrorInfo::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IErrorInfo, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CErrorInfo::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CErrorInfo::Release() { return core::RefRelease(m_refCount, this); }

// A failed copy still reports success: the record simply keeps no text.
COM_HRESULT CErrorInfo::SetDescription(const COM_WCHAR* text) {
    plat::SysReAllocString(m_description.InPlace(), text);
    return S_OK;
}
COM_HRESULT CErrorInfo::SetSource(const COM_WCHAR* text) {
    plat::SysReAllocString(m_source.InPlace(), text);
    return S_OK;
}
COM_HRESULT CErrorInfo::SetNumberPair(uint32_t first, uint32_t second) {
    m_pairFirst = first;
    m_pairSecond = second;
    return S_OK;
}
COM_HRESULT CErrorInfo::SetNumber(uint32_t number) {
    m_number = number;
    return S_OK;
}
COM_HRESULT CErrorInfo::GetDescription(COM_BSTR* text) {
    *text = CopyOf(m_description.Get());
    return S_OK;
}
COM_HRESULT CErrorInfo::GetSource(COM_BSTR* text) {
    *text = CopyOf(m_source.Get());
    return S_OK;
}
COM_HRESULT CErrorInfo::GetNumberPair(uint32_t* first, uint32_t* second) {
    *first = m_pairFirst;
    *second = m_pairSecond;
    return S_OK;
}
COM_HRESULT CErrorInfo::GetNumber(uint32_t* number) {
    *number = m_number;
    return S_OK;
}

COM_HRESULT CreateErrorInfo(COM_IErrorInfo** record) noexcept {
    return core::CreateObject<CErrorInfo>(record, COM_IID_IErrorInfo);
}

COM_HRESULT SetErrorInfo(COM_IErrorInfo* record) noexcept {
    if (record == g_current.record) return S_OK;
    // The old record goes first: if the slot held its last reference it is
    // destroyed before the new one is referenced.
    COM_IErrorInfo* old = g_current.record;
    g_current.record = nullptr;
    if (old) old->Release();
    g_current.record = record;
    if (record) record->AddRef();
    return S_OK;
}

COM_HRESULT GetErrorInfo(COM_IErrorInfo** record) noexcept {
    if (!g_current.record) return S_FALSE;
    g_current.record->AddRef();
    *record = g_current.record;
    return S_OK;
}

COM_HRESULT ClearErrorInfo() noexcept { return SetErrorInfo(nullptr); }

} // namespace tavo::errorinfo
