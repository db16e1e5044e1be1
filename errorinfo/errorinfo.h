// Error records and the process-wide current record.
#ifndef TAVOCOM_ERRORINFO_ERRORINFO_H
#define TAVOCOM_ERRORINFO_ERRORINFO_H

#include <tavocom/tavocom.h>

#include "platform/platform.h"

namespace tavo::errorinfo {

/// A description, a source and three numbers describing a failure. Not in
/// the class object map: made only by CreateErrorInfo.
class CErrorInfo final : public COM_IErrorInfo {
public:
    CErrorInfo() noexcept = default;
    CErrorInfo(const CErrorInfo&) = delete;
    CErrorInfo& operator=(const CErrorInfo&) = delete;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT SetDescription(const COM_WCHAR* text) override;
    COM_HRESULT SetSource(const COM_WCHAR* text) override;
    COM_HRESULT SetNumberPair(uint32_t first, uint32_t second) override;
    COM_HRESULT SetNumber(uint32_t number) override;
    COM_HRESULT GetDescription(COM_BSTR* text) override;
    COM_HRESULT GetSource(COM_BSTR* text) override;
    COM_HRESULT GetNumberPair(uint32_t* first, uint32_t* second) override;
    COM_HRESULT GetNumber(uint32_t* number) override;
    virtual ~CErrorInfo() = default;

private:
    uint32_t m_refCount = 0;
    plat::OwnedBstr m_description;
    plat::OwnedBstr m_source;
    uint32_t m_number = 0;
    uint32_t m_pairFirst = 0;
    uint32_t m_pairSecond = 0;
};

COM_HRESULT CreateErrorInfo(COM_IErrorInfo** record) noexcept;
COM_HRESULT SetErrorInfo(COM_IErrorInfo* record) noexcept;
COM_HRESULT GetErrorInfo(COM_IErrorInfo** record) noexcept;
COM_HRESULT ClearErrorInfo() noexcept;

} // namespace tavo::errorinfo

#endif
