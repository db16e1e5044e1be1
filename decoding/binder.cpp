#include "decoding/binder.h"

namespace tavo::decoding {

COM_CClassFactory<CHResultDecoderBinder> g_binderFactory;

COM_HRESULT CHResultDecoderBinder::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IMoniker, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CHResultDecoderBinder::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CHResultDecoderBinder::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CHResultDecoderBinder::Bind(const COM_WCHAR*, const _COM_GUID&, void**) { return E_NOTIMPL; }

} // namespace tavo::decoding
