// The identifier-text helper behind COM_CLSIDToString, used throughout the
// library.
#ifndef TAVOCOM_CORE_UTILITY_H
#define TAVOCOM_CORE_UTILITY_H

#include <tavocom/tavocom.h>

namespace tavo::core {

COM_HRESULT CLSIDToString(const _COM_GUID& id, COM_BSTR* text) noexcept;

} // namespace tavo::core

#endif
