#include "registration/registration.h"

namespace tavo::registration {

COM_HRESULT RegisterServer(int32_t) { return E_NOTIMPL; }

} // namespace tavo::registration
