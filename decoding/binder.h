// The moniker registered for the "hresult" prefix: binds a facility to the
// decoder class registered for it.
#ifndef TAVOCOM_DECODING_BINDER_H
#define TAVOCOM_DECODING_BINDER_H

#include "core/object.h"

namespace tavo::decoding {

class CHResultDecoderBinder final : public COM_CComObjectRoot,
                                    public COM_CComCoClass<CHResultDecoderBinder, &COM_CLSID_HResultDecoderBinder>,
                                    public COM_IMoniker {
public:
    CHResultDecoderBinder() noexcept = default;
    CHResultDecoderBinder(const CHResultDecoderBinder&) = delete;
    CHResultDecoderBinder& operator=(const CHResultDecoderBinder&) = delete;
    virtual ~CHResultDecoderBinder() = default;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT Bind(const COM_WCHAR* rest, const _COM_GUID& iid, void** object) override;

private:
    uint32_t m_refCount = 0;
};

/// The class object of CHResultDecoderBinder in the class object map.
extern COM_CClassFactory<CHResultDecoderBinder> g_binderFactory;

} // namespace tavo::decoding

#endif
