#include "platform/utf.h"

namespace tavo::utf {

WideString Utf8ToUtf16(const char* text, size_t length) {
    WideString out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        uint32_t cp;
        size_t extra;
        uint32_t min;
        if (c < 0x80) {
            out.push_back(COM_WCHAR(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, extra = 1, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, extra = 2, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07, extra = 3, min = 0x10000;
        } else {
            out.push_back(COM_WCHAR(0xFFFD));
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra && i + k < length && (s[i + k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        if (k <= extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            out.push_back(COM_WCHAR(0xFFFD));
            i += k;
            continue;
        }
        i += k;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(COM_WCHAR(0xD800 + (cp >> 10)));
            out.push_back(COM_WCHAR(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(COM_WCHAR(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const COM_WCHAR* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t cp = uint16_t(text[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && uint16_t(text[i + 1]) >= 0xDC00 &&
            uint16_t(text[i + 1]) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uint16_t(text[++i]) - 0xDC00);
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD; // lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace tavo::utf
