#include "platform/utf.h"

namespace tavo::utf {
namespace {

// Each conversion is written once, over a sink that either appends to a
// string or fills a caller's buffer (counting what does not fit).
template <class Put>
void DecodeUtf8(const char* text, size_t length, Put put) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        uint32_t cp;
        size_t extra;
        uint32_t min;
        if (c < 0x80) {
            put(COM_WCHAR(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, extra = 1, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, extra = 2, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07, extra = 3, min = 0x10000;
        } else {
            put(COM_WCHAR(0xFFFD));
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra && i + k < length && (s[i + k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        if (k <= extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            put(COM_WCHAR(0xFFFD));
            i += k;
            continue;
        }
        i += k;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(COM_WCHAR(0xD800 + (cp >> 10)));
            put(COM_WCHAR(0xDC00 + (cp & 0x3FF)));
        } else {
            put(COM_WCHAR(cp));
        }
    }
}

template <class Put>
void EncodeUtf8(const COM_WCHAR* text, size_t length, Put put) {
    for (size_t i = 0; i < length; ++i) {
        uint32_t cp = uint16_t(text[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && uint16_t(text[i + 1]) >= 0xDC00 &&
            uint16_t(text[i + 1]) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uint16_t(text[++i]) - 0xDC00);
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD; // lone surrogate
        }
        if (cp < 0x80) {
            put(char(cp));
        } else if (cp < 0x800) {
            put(char(0xC0 | (cp >> 6)));
            put(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            put(char(0xE0 | (cp >> 12)));
            put(char(0x80 | ((cp >> 6) & 0x3F)));
            put(char(0x80 | (cp & 0x3F)));
        } else {
            put(char(0xF0 | (cp >> 18)));
            put(char(0x80 | ((cp >> 12) & 0x3F)));
            put(char(0x80 | ((cp >> 6) & 0x3F)));
            put(char(0x80 | (cp & 0x3F)));
        }
    }
}

} // namespace

WideString Utf8ToUtf16(const char* text, size_t length) {
    WideString out;
    out.reserve(length);
    DecodeUtf8(text, length, [&out](COM_WCHAR c) { out.push_back(c); });
    return out;
}

std::string Utf16ToUtf8(const COM_WCHAR* text, size_t length) {
    std::string out;
    out.reserve(length);
    EncodeUtf8(text, length, [&out](char c) { out.push_back(c); });
    return out;
}

// ASCII, the common case, is copied a unit at a time before the general
// conversion takes over at the first other character.
size_t Utf8ToUtf16(const char* text, size_t length, COM_WCHAR* out, size_t capacity) {
    size_t n = 0;
    for (; n < length && static_cast<unsigned char>(text[n]) < 0x80; ++n)
        if (n < capacity) out[n] = COM_WCHAR(text[n]);
    DecodeUtf8(text + n, length - n, [&](COM_WCHAR c) {
        if (n < capacity) out[n] = c;
        ++n;
    });
    return n;
}

size_t Utf16ToUtf8(const COM_WCHAR* text, size_t length, char* out, size_t capacity) {
    size_t n = 0;
    for (; n < length && uint16_t(text[n]) < 0x80; ++n)
        if (n < capacity) out[n] = char(text[n]);
    EncodeUtf8(text + n, length - n, [&](char c) {
        if (n < capacity) out[n] = c;
        ++n;
    });
    return n;
}

} // namespace tavo::utf
