// The library entry handler: keeps the instance handle, nothing else.
#include "platform/platform.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) tavo::core::OnProcessAttach(instance);
    return TRUE;
}
