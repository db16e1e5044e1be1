// Text in the ANSI code page, the form in which the registry and the
// platform's narrow calls take it.
#ifndef TAVOCOM_CORE_ANSI_H
#define TAVOCOM_CORE_ANSI_H

#include <tavocom/tavocom.h>

#include <string>

namespace tavo::core {

/// Wide text to the ANSI code page, terminator excluded from the result.
/// False when the conversion fails; std::bad_alloc when memory runs out.
bool ToAnsi(const COM_WCHAR* text, std::string* out);

/// ANSI text up to its first NUL to a new length-prefixed wide string;
/// null when the conversion or the allocation fails.
COM_BSTR FromAnsi(const char* text) noexcept;

} // namespace tavo::core

#endif
