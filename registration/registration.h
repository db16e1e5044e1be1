// Self-registration of the library's classes under the class root.
#ifndef TAVOCOM_REGISTRATION_REGISTRATION_H
#define TAVOCOM_REGISTRATION_REGISTRATION_H

#include <tavocom/tavocom.h>

#include "core/classmap.h"

namespace tavo::registration {

/// DllRegisterServer (flag 1) and DllUnregisterServer (flag 0): all classes
/// of the class object map.
COM_HRESULT RegisterServer(int32_t flag);

/// Runs the registration function and the category records of every entry
/// of `map` (ended by an entry with a null class), whatever happened to the
/// earlier ones, as one store transaction. 0 when every step succeeded, 1
/// when any failed. Uses the exported functions only, so that a test can
/// run it over a map of its own.
COM_HRESULT RegisterAllClasses(const core::ClassMapEntry* map, int32_t flag);

/// The class layout of one class of this library, with this library's file
/// name as its server: 0 done, 1 still registered, or the failing status.
/// Runs inside the transaction of RegisterAllClasses.
COM_HRESULT RegisterClassEntries(const _COM_GUID& clsid, const COM_WCHAR* progid, int32_t flag,
                                 const COM_WCHAR* displayName, const COM_WCHAR* description,
                                 const COM_WCHAR* monikerName, const COM_WCHAR* monikerList);

/// This library's file name without its directory, as a new string.
COM_HRESULT GetModuleName(COM_BSTR* out);

// Registration functions of the class object map's entries.
COM_HRESULT RegisterRegistryClass(int32_t flag);
COM_HRESULT RegisterCategoryManagerClass(int32_t flag);
COM_HRESULT RegisterMemoryClass(int32_t flag);
/// Also the default value of Moniker\hresult.
COM_HRESULT RegisterDecoderBinderClass(int32_t flag);

} // namespace tavo::registration

#endif
