// The library-level entry points of TAVOCOM64 itself. Every component
// library exports functions of these names too, so component sources do not
// include this header; installers and tests that call this library's own
// entry points do.
#ifndef TAVOCOM_LIBRARY_ENTRY_H
#define TAVOCOM_LIBRARY_ENTRY_H

#include "exports.h"

extern "C" {

TAVOCOM_API COM_HRESULT CanUnloadNow();
TAVOCOM_API COM_HRESULT DllRegisterServer();
TAVOCOM_API COM_HRESULT DllUnregisterServer();
TAVOCOM_API COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out);

} // extern "C"

#endif
