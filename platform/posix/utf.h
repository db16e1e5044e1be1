// UTF-8 <-> UTF-16 conversion of the posix backend, whose narrow code page
// is UTF-8.
#ifndef TAVOCOM_PLATFORM_POSIX_UTF_H
#define TAVOCOM_PLATFORM_POSIX_UTF_H

#include <tavocom/types.h>

#include <string>

namespace tavo::plat::posix {

using U16String = std::basic_string<COM_WCHAR>;

/// Ill-formed input becomes U+FFFD, as the platform's conversion does
/// without its strict flag.
U16String Utf8ToUtf16(const char* text, size_t length);
std::string Utf16ToUtf8(const COM_WCHAR* text, size_t length);

} // namespace tavo::plat::posix

#endif
