#include "decoding/number_format.h"

namespace tavo::decoding {

void AppendDecimal(WString& out, int32_t value) {
    // The magnitude in unsigned arithmetic: -2147483648 has no positive int32.
    uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    COM_WCHAR digits[10];
    size_t n = 0;
    do {
        digits[n++] = COM_WCHAR('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) out.push_back(COM_WCHAR('-'));
    while (n != 0) out.push_back(digits[--n]);
}

void AppendHex(WString& out, uint32_t value, uint32_t width, Fill fill, LetterCase letters) {
    const COM_WCHAR firstLetter = letters == LetterCase::Upper ? COM_WCHAR('A') : COM_WCHAR('a');
    COM_WCHAR digits[8];
    size_t n = 0;
    do {
        uint32_t d = value & 0xF;
        digits[n++] = d < 10 ? COM_WCHAR('0' + d) : COM_WCHAR(firstLetter + (d - 10));
        value >>= 4;
    } while (value != 0);
    if (width > n) out.append(width - n, COM_WCHAR(0x20 + 0x10 * uint32_t(fill)));
    while (n != 0) out.push_back(digits[--n]);
}

} // namespace tavo::decoding
