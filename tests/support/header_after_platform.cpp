// The public headers after the platform's own headers, as a Windows client
// includes them.
#if defined(_WIN32)
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#endif
#include <tavocom/component.h>
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

namespace {

// The component templates instantiated, so that their bodies compile too.
COM_ComponentLocks g_checkLocks;
struct CheckObject final : COM_ComponentObject<g_checkLocks, COM_IClassFactory> {
    COM_HRESULT QueryInterface(const _COM_GUID&, void**) override { return E_NOINTERFACE; }
    COM_HRESULT CreateInstance(const _COM_GUID&, void**) override { return E_NOTIMPL; }
};
COM_ComponentFactory<CheckObject, g_checkLocks> g_checkFactory;

} // namespace

int TavocomHeaderAfterPlatformCheck() {
    COM_HRESULT hr = E_NOINTERFACE;
    COM_IClassFactory* factory = &g_checkFactory;
    return COM_FAILED(hr) && S_OK == 0 && factory && g_checkLocks.CanUnloadNow() == S_OK ? 0 : 1;
}
