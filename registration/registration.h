// Self-registration of the library's classes under the class root.
#ifndef TAVOCOM_REGISTRATION_REGISTRATION_H
#define TAVOCOM_REGISTRATION_REGISTRATION_H

#include <tavocom/tavocom.h>

namespace tavo::registration {

/// DllRegisterServer (flag 1) and DllUnregisterServer (flag 0).
COM_HRESULT RegisterServer(int32_t flag);

} // namespace tavo::registration

#endif
