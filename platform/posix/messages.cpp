// System message texts. There is no system message table here: the texts
// below, in this runtime's own words, cover the platform error numbers
// that the runtime itself returns as statuses (0x8007xxxx, from the
// registry store); every other code has none, so the activation
// statuses keep the built-in texts, as on the reference platform. Each text
// ends in a line break, as the platform's texts do.
#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace tavo::plat {
namespace {

struct SystemText {
    uint32_t code;
    const char* text; // ASCII: the same bytes in every code page
};

// Sorted by code.
constexpr SystemText kTexts[] = {
    {0x80070002u, "The file or registry key was not found.\r\n"},
    {0x80070005u, "Access to the file or registry key was denied.\r\n"},
    {0x80070006u, "The handle is not valid.\r\n"},
    {0x8007000Eu, "There is not enough memory to complete the operation.\r\n"},
    {0x80070057u, "A parameter is not valid.\r\n"},
    {0x80070070u, "The disk is full.\r\n"},
    {0x800700A1u, "The path name is not valid.\r\n"},
    {0x800700AAu, "The resource is busy.\r\n"},
    {0x800700EAu, "More data is available than the buffer can hold.\r\n"},
    {0x80070103u, "There are no more items.\r\n"},
    {0x800703F7u, "The registry store is damaged.\r\n"},
    {0x800703F8u, "A read or write of the registry store failed.\r\n"},
    {0x800703FAu, "The registry key has been marked for deletion.\r\n"},
};
static_assert(std::is_sorted(std::begin(kTexts), std::end(kTexts),
                             [](const SystemText& a, const SystemText& b) { return a.code < b.code; }));

const char* Find(uint32_t flags, uint32_t code, uint32_t language) {
    if (flags != kSystemMessageFlags || language != 0) return nullptr;
    const SystemText* it = std::lower_bound(std::begin(kTexts), std::end(kTexts), code,
                                            [](const SystemText& row, uint32_t c) { return row.code < c; });
    return it != std::end(kTexts) && it->code == code ? it->text : nullptr;
}

template <class Char>
uint32_t Copy(const char* text, Char** buffer) {
    *buffer = nullptr;
    if (!text) return 0;
    size_t n = std::strlen(text);
    auto* copy = static_cast<Char*>(std::malloc((n + 1) * sizeof(Char)));
    if (!copy) return 0;
    std::copy(text, text + n + 1, copy);
    *buffer = copy;
    return uint32_t(n);
}

} // namespace

uint32_t FormatMessageW(uint32_t flags, uint32_t code, uint32_t language, COM_WCHAR** buffer) {
    return Copy(Find(flags, code, language), buffer);
}

uint32_t FormatMessageA(uint32_t flags, uint32_t code, uint32_t language, char** buffer) {
    return Copy(Find(flags, code, language), buffer);
}

void LocalFree(void* block) { std::free(block); }

} // namespace tavo::plat
