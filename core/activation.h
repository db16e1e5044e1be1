// Class activation: from a class identifier to a factory and an object.
#ifndef TAVOCOM_CORE_ACTIVATION_H
#define TAVOCOM_CORE_ACTIVATION_H

#include <tavocom/tavocom.h>

namespace tavo::core {

COM_HRESULT GetClassFactory(const _COM_GUID& clsid, COM_IClassFactory** factory);
COM_HRESULT CreateInstance(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out);

} // namespace tavo::core

#endif
