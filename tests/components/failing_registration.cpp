// A component whose registration always fails, as one without the right to
// write the registry would.
#include <tavocom/tavocom.h>

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID*, const _COM_GUID*, void**) {
    return CLASS_E_CLASSNOTAVAILABLE;
}
COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return S_OK; }
COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() { return COM_STATUS_FROM_WIN32(5); }
COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() { return COM_STATUS_FROM_WIN32(5); }
