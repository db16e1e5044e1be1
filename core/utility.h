// Identifier, string, task-memory and statistics functions behind the
// exports, and the library entry points GetClassObject and CanUnloadNow.
#ifndef TAVOCOM_CORE_UTILITY_H
#define TAVOCOM_CORE_UTILITY_H

#include <tavocom/tavocom.h>

namespace tavo::core {

COM_HRESULT CLSIDToString(const _COM_GUID& id, COM_BSTR* text) noexcept;
/// The static factory of a class of the class object map, or null.
COM_IClassFactory* FindClassFactory(const _COM_GUID& clsid) noexcept;
COM_HRESULT GetClassObject(const _COM_GUID& clsid, const _COM_GUID& iid, void** out) noexcept;
COM_HRESULT CanUnloadNow() noexcept;

} // namespace tavo::core

#endif
