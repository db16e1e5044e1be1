// Identifier text form, parsing and generation, and task memory.
#include "platform/fault.h"
#include "platform/platform.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tavo::plat {
namespace {

constexpr size_t kTextLength = 38; // {8-4-4-4-12}

int HexValue(COM_WCHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads `digits` hex digits at `text`; false on any other character.
bool ReadHex(const COM_WCHAR* text, int digits, uint64_t* value) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexValue(text[i]);
        if (d < 0) return false;
        v = (v << 4) | uint64_t(d);
    }
    *value = v;
    return true;
}

} // namespace

COM_HRESULT StringFromCLSID(const _COM_GUID& id, COM_WCHAR** text) {
    static const char digits[] = "0123456789ABCDEF";
    auto* out = static_cast<COM_WCHAR*>(CoTaskMemAlloc((kTextLength + 1) * sizeof(COM_WCHAR)));
    if (!out) return E_OUTOFMEMORY;
    size_t n = 0;
    auto put = [&](uint64_t v, int width) {
        for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) out[n++] = COM_WCHAR(digits[(v >> shift) & 0xF]);
    };
    out[n++] = '{';
    put(id.Data1, 8);
    out[n++] = '-';
    put(id.Data2, 4);
    out[n++] = '-';
    put(id.Data3, 4);
    out[n++] = '-';
    put(id.Data4[0], 2);
    put(id.Data4[1], 2);
    out[n++] = '-';
    for (int i = 2; i < 8; ++i) put(id.Data4[i], 2);
    out[n++] = '}';
    out[n] = 0;
    *text = out;
    return S_OK;
}

COM_HRESULT CLSIDFromString(const COM_WCHAR* text, _COM_GUID* id) {
    // The platform reads a null text as the null identifier.
    if (!text) {
        std::memset(id, 0, sizeof *id);
        return S_OK;
    }
    size_t length = 0;
    while (length <= kTextLength && text[length] != 0) ++length;
    if (length != kTextLength || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
        text[24] != '-' || text[37] != '}')
        return CO_E_CLASSSTRING;
    uint64_t d1, d2, d3, b0, b1, rest;
    if (!ReadHex(text + 1, 8, &d1) || !ReadHex(text + 10, 4, &d2) || !ReadHex(text + 15, 4, &d3) ||
        !ReadHex(text + 20, 2, &b0) || !ReadHex(text + 22, 2, &b1) || !ReadHex(text + 25, 12, &rest))
        return CO_E_CLASSSTRING;
    id->Data1 = uint32_t(d1);
    id->Data2 = uint16_t(d2);
    id->Data3 = uint16_t(d3);
    id->Data4[0] = uint8_t(b0);
    id->Data4[1] = uint8_t(b1);
    for (int i = 0; i < 6; ++i) id->Data4[2 + i] = uint8_t(rest >> (8 * (5 - i)));
    return S_OK;
}

COM_HRESULT CoCreateGuid(_COM_GUID* id) {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return E_FAIL;
        }
        got += size_t(n);
    }
    std::memcpy(id, bytes, sizeof bytes);
    id->Data3 = uint16_t((id->Data3 & 0x0FFF) | 0x4000); // version 4
    id->Data4[0] = uint8_t((id->Data4[0] & 0x3F) | 0x80); // variant 10xx
    return S_OK;
}

// The platform's task allocator hands out a block even for size 0.
void* CoTaskMemAlloc(size_t size) { return Injected(Fault::Memory) ? nullptr : std::malloc(size ? size : 1); }

void CoTaskMemFree(void* block) { std::free(block); }

} // namespace tavo::plat
