// Length-prefixed strings with the platform's layout: a 32-bit byte length
// just before the first character, 16-bit characters, a 16-bit terminator.
#include "platform/fault.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace tavo::plat {
namespace {

// The largest byte length whose allocation (prefix, text, terminator) still
// has its size in 32 bits; the platform refuses anything longer.
constexpr uint32_t kMaxBytes = 0xFFFFFFFFu - sizeof(uint32_t) - sizeof(COM_WCHAR) - 1;

uint32_t& PrefixOf(COM_BSTR s) { return *reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - sizeof(uint32_t)); }

void* BlockOf(COM_BSTR s) { return reinterpret_cast<char*>(s) - sizeof(uint32_t); }

// Allocates room for `bytes` bytes of text plus terminator, writes the
// prefix and the terminator (two zero bytes just after the text, and the
// next 16-bit cell when the length is odd). Text is left to the caller.
COM_BSTR AllocBytes(uint32_t bytes) {
    if (bytes > kMaxBytes || Injected(Fault::Memory)) return nullptr;
    size_t total = sizeof(uint32_t) + size_t(bytes) + sizeof(COM_WCHAR) + (bytes & 1u);
    char* block = static_cast<char*>(std::malloc(total));
    if (!block) return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    char* text = block + sizeof(uint32_t);
    std::memset(text + bytes, 0, sizeof(COM_WCHAR) + (bytes & 1u));
    return reinterpret_cast<COM_BSTR>(text);
}

uint32_t Length(const COM_WCHAR* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

} // namespace

COM_BSTR SysAllocStringLen(const COM_WCHAR* text, uint32_t length) {
    if (length > kMaxBytes / sizeof(COM_WCHAR)) return nullptr;
    COM_BSTR s = AllocBytes(length * uint32_t(sizeof(COM_WCHAR)));
    if (s && text) std::memcpy(s, text, size_t(length) * sizeof(COM_WCHAR));
    return s;
}

COM_BSTR SysAllocString(const COM_WCHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, Length(text));
}

COM_BSTR SysAllocStringByteLen(const char* bytes, uint32_t length) {
    COM_BSTR s = AllocBytes(length);
    if (s && bytes) std::memcpy(s, bytes, length);
    return s;
}

int32_t SysReAllocStringLen(COM_BSTR* target, const COM_WCHAR* text, uint32_t length) {
    if (!target) return 0;
    // A new block first: the source may lie inside the old string.
    COM_BSTR fresh = SysAllocStringLen(nullptr, length);
    if (!fresh) return 0;
    if (text) {
        COM_BSTR old = *target;
        uint32_t available = length;
        // Reading past the end of the old string's allocation is not allowed,
        // so a source inside it is copied only up to its end.
        if (old && text >= old && text <= old + SysStringLen(old)) {
            uint32_t left = uint32_t(old + SysStringLen(old) - text) + 1;
            if (available > left) available = left;
        }
        std::memcpy(fresh, text, size_t(available) * sizeof(COM_WCHAR));
    }
    SysFreeString(*target);
    *target = fresh;
    return 1;
}

int32_t SysReAllocString(COM_BSTR* target, const COM_WCHAR* text) {
    if (!target) return 0;
    static const COM_WCHAR empty[1] = {0};
    if (!text) text = empty;
    return SysReAllocStringLen(target, text, Length(text));
}

void SysFreeString(COM_BSTR text) {
    if (text) std::free(BlockOf(text));
}

uint32_t SysStringByteLen(COM_BSTR text) { return text ? PrefixOf(text) : 0; }

uint32_t SysStringLen(COM_BSTR text) { return text ? PrefixOf(text) / uint32_t(sizeof(COM_WCHAR)) : 0; }

} // namespace tavo::plat
