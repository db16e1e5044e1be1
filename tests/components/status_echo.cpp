// A misbehaving component library: its "GetClassObject" delivers no factory
// and returns the first 32 bits of the class identifier as its status, so a
// test can make it report success, S_FALSE or any garbage status; for
// 0xDEADDEAD it takes the process down, as a broken component does.
#include <tavocom/tavocom.h>

#include <cstdlib>

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID*, void** out) {
    if (clsid->Data1 == 0xDEADDEADu) std::abort();
    *out = nullptr;
    return static_cast<COM_HRESULT>(clsid->Data1);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return S_OK; }
