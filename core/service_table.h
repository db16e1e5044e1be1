// The service table: one shared object per class and context value.
#ifndef TAVOCOM_CORE_SERVICE_TABLE_H
#define TAVOCOM_CORE_SERVICE_TABLE_H

#include <tavocom/tavocom.h>

namespace tavo::core {

COM_HRESULT GetService(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out);

} // namespace tavo::core

#endif
