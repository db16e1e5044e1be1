#include "support/test_support.h"

namespace tavo::test {

WString W(const std::string& utf8) {
    WString out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) cp = (cp << 6) | (utf8[i] & 0x3F);
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

std::string Narrow(const COM_WCHAR* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) {
        uint32_t cp = uint16_t(*text);
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace tavo::test
