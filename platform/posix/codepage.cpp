// The ANSI code page of the contract. On this system it is UTF-8.
#include <cstring>

#include "platform/registry.h"
#include "platform/utf.h"

namespace tavo::plat {

// Converted in one pass into the caller's buffer: one too small may be
// partly written when the call fails, as the platform's call leaves it.
int32_t WideCharToMultiByte(const COM_WCHAR* text, int32_t length, char* out, int32_t outSize) {
    if (!text || outSize < 0 || length < -1 || (outSize > 0 && !out)) return 0;
    size_t n = 0;
    if (length == -1) {
        while (text[n]) ++n;
        ++n; // the terminator is converted too
    } else {
        n = size_t(length);
    }
    size_t needed = utf::Utf16ToUtf8(text, n, out, size_t(outSize));
    if (needed > 0x7FFFFFFF) return 0;
    if (outSize == 0) return int32_t(needed);
    return size_t(outSize) < needed ? 0 : int32_t(needed);
}

int32_t MultiByteToWideChar(const char* text, int32_t length, COM_WCHAR* out, int32_t outSize) {
    if (!text || outSize < 0 || length < -1 || (outSize > 0 && !out)) return 0;
    size_t n = length == -1 ? std::strlen(text) + 1 : size_t(length);
    size_t needed = utf::Utf8ToUtf16(text, n, out, size_t(outSize));
    if (needed > 0x7FFFFFFF) return 0;
    if (outSize == 0) return int32_t(needed);
    return size_t(outSize) < needed ? 0 : int32_t(needed);
}

} // namespace tavo::plat
