#include "platform/posix/registry/folding.h"

namespace tavo::plat::text {

namespace {

bool In(char16_t c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }
// Pairs where the upper-case letter sits at the even (or odd) position.
char16_t EvenUpper(char16_t c) { return (c & 1) == 0 ? char16_t(c + 1) : c; }
char16_t OddUpper(char16_t c) { return (c & 1) == 1 ? char16_t(c + 1) : c; }

} // namespace

char16_t FoldCase(char16_t c) {
    if (c < 0x80) return In(c, 'A', 'Z') ? char16_t(c + 0x20) : c;
    if (c < 0x100) return (In(c, 0xC0, 0xDE) && c != 0xD7) ? char16_t(c + 0x20) : c;
    if (c < 0x180) {
        if (c == 0x130) return u'i';
        if (c == 0x178) return 0xFF;
        if (In(c, 0x100, 0x12F) || In(c, 0x132, 0x137) || In(c, 0x14A, 0x177)) return EvenUpper(c);
        if (In(c, 0x139, 0x148) || In(c, 0x179, 0x17E)) return OddUpper(c);
        return c;
    }
    if (In(c, 0x370, 0x3FF)) {
        if (c == 0x386) return 0x3AC;
        if (In(c, 0x388, 0x38A)) return char16_t(c + 0x25);
        if (c == 0x38C) return 0x3CC;
        if (In(c, 0x38E, 0x38F)) return char16_t(c + 0x3F);
        if (In(c, 0x391, 0x3AB) && c != 0x3A2) return char16_t(c + 0x20);
        if (In(c, 0x3D8, 0x3EF)) return EvenUpper(c);
        return c;
    }
    if (In(c, 0x400, 0x52F)) {
        if (In(c, 0x400, 0x40F)) return char16_t(c + 0x50);
        if (In(c, 0x410, 0x42F)) return char16_t(c + 0x20);
        if (c == 0x4C0) return 0x4CF;
        if (In(c, 0x4C1, 0x4CE)) return OddUpper(c);
        if (In(c, 0x460, 0x481) || In(c, 0x48A, 0x4BF) || In(c, 0x4D0, 0x52F)) return EvenUpper(c);
        return c;
    }
    if (In(c, 0x531, 0x556)) return char16_t(c + 0x30);
    if (In(c, 0x1E00, 0x1E95) || In(c, 0x1EA0, 0x1EFF)) return EvenUpper(c);
    if (In(c, 0x2160, 0x216F)) return char16_t(c + 0x10);
    if (In(c, 0x24B6, 0x24CF)) return char16_t(c + 0x1A);
    if (In(c, 0xFF21, 0xFF3A)) return char16_t(c + 0x20);
    return c;
}

void AppendFoldKey(const char16_t* name, size_t n, std::string* key) {
    const size_t at = key->size();
    key->resize(at + n * 2);
    char* out = key->data() + at;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = name[i];
        const char16_t f = c < 0x80 ? (c >= 'A' && c <= 'Z' ? char16_t(c + 0x20) : c) : FoldCase(c);
        out[2 * i] = char(f >> 8);
        out[2 * i + 1] = char(f & 0xFF);
    }
}

std::string FoldKey(const char16_t* name, size_t n) {
    std::string key;
    AppendFoldKey(name, n, &key);
    return key;
}

} // namespace tavo::plat::text
