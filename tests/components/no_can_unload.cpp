// A component library that exports "GetClassObject" but not "CanUnloadNow":
// the runtime must refuse it and unload it again. It uses the runtime (which
// itself exports a "CanUnloadNow"), so the entry lookup must not accept a
// name found in a dependency instead of the library itself.
#include <tavocom/tavocom.h>

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID*, const _COM_GUID*, void** out) {
    *out = nullptr;
    return COM_SysStringLen(nullptr) == 0 ? CLASS_E_CLASSNOTAVAILABLE : E_FAIL;
}
