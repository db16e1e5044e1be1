// The ANSI code page of the contract. On this system it is UTF-8.
#include <cstring>
#include <new>

#include "platform/registry.h"
#include "platform/utf.h"

namespace tavo::plat {

int32_t WideCharToMultiByte(const COM_WCHAR* text, int32_t length, char* out, int32_t outSize) {
    if (!text || outSize < 0 || length < -1 || (outSize > 0 && !out)) return 0;
    size_t n = 0;
    if (length == -1) {
        while (text[n]) ++n;
        ++n; // the terminator is converted too
    } else {
        n = size_t(length);
    }
    // Like the platform's call, a conversion without memory fails with 0
    // rather than throwing into callers that promise not to.
    std::string s;
    try {
        s = utf::Utf16ToUtf8(text, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (s.size() > 0x7FFFFFFF) return 0;
    if (outSize == 0) return int32_t(s.size());
    if (size_t(outSize) < s.size()) return 0;
    std::memcpy(out, s.data(), s.size());
    return int32_t(s.size());
}

int32_t MultiByteToWideChar(const char* text, int32_t length, COM_WCHAR* out, int32_t outSize) {
    if (!text || outSize < 0 || length < -1 || (outSize > 0 && !out)) return 0;
    size_t n = length == -1 ? std::strlen(text) + 1 : size_t(length);
    std::u16string s;
    try {
        s = utf::Utf8ToUtf16(text, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (s.size() > 0x7FFFFFFF) return 0;
    if (outSize == 0) return int32_t(s.size());
    if (size_t(outSize) < s.size()) return 0;
    std::memcpy(out, s.data(), s.size() * sizeof(char16_t));
    return int32_t(s.size());
}

} // namespace tavo::plat
