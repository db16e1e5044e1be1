// Class information lookups: what self-registration wrote about a class.
#ifndef TAVOCOM_CORE_CLASSINFO_H
#define TAVOCOM_CORE_CLASSINFO_H

#include <tavocom/tavocom.h>

namespace tavo::core {

COM_HRESULT GetCLSIDFromProgID(const COM_WCHAR* progid, _COM_GUID* clsid);
/// Default value of CLSID\{clsid}\`subkey` under the class root.
COM_HRESULT GetClassEntryText(const _COM_GUID& clsid, const COM_WCHAR* subkey, COM_BSTR* text);

} // namespace tavo::core

#endif
