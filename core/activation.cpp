#include "core/activation.h"

#include "core/utility.h"

namespace tavo::core {

COM_HRESULT GetClassFactory(const _COM_GUID& clsid, COM_IClassFactory** factory) {
    COM_HRESULT hr = GetClassObject(clsid, COM_IID_IClassFactory, reinterpret_cast<void**>(factory));
    if (COM_SUCCEEDED(hr)) return hr;
    // Classes registered in other component libraries are not served yet.
    return E_NOTIMPL;
}

COM_HRESULT CreateInstance(const _COM_GUID& clsid, int32_t /*context*/, const _COM_GUID& iid, void** out) {
    utlAutoIf<COM_IClassFactory> factory;
    COM_HRESULT hr = GetClassFactory(clsid, factory.Put());
    if (COM_FAILED(hr)) return hr;
    // A success without a factory raises XBadPtrException here.
    return factory->CreateInstance(iid, out);
}

} // namespace tavo::core
