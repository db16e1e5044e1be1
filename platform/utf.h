// UTF-8 <-> UTF-16 conversion: the narrow code page of the posix backend,
// and the text of the command-line tool and the tests on both systems.
#ifndef TAVOCOM_PLATFORM_UTF_H
#define TAVOCOM_PLATFORM_UTF_H

#include <tavocom/types.h>

#include <string>

namespace tavo::utf {

using WideString = std::basic_string<COM_WCHAR>;

/// Ill-formed input becomes U+FFFD, as the platform's conversion does
/// without its strict flag.
WideString Utf8ToUtf16(const char* text, size_t length);
std::string Utf16ToUtf8(const COM_WCHAR* text, size_t length);

/// The same conversions into a caller's buffer, which needs no allocation:
/// the length of the whole result, of which the first `capacity` units are
/// written.
size_t Utf8ToUtf16(const char* text, size_t length, COM_WCHAR* out, size_t capacity);
size_t Utf16ToUtf8(const COM_WCHAR* text, size_t length, char* out, size_t capacity);

} // namespace tavo::utf

#endif
