// The public headers after the platform's own headers, as a Windows client
// includes them.
#if defined(_WIN32)
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#endif
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

int TavocomHeaderAfterPlatformCheck() {
    COM_HRESULT hr = E_NOINTERFACE;
    return COM_FAILED(hr) && S_OK == 0 ? 0 : 1;
}
