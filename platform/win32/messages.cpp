// System message texts: the platform's own message table.
#include "platform/platform.h"

#include <windows.h>

namespace tavo::plat {

uint32_t FormatMessageW(uint32_t flags, uint32_t code, uint32_t language, COM_WCHAR** buffer) {
    *buffer = nullptr;
    return ::FormatMessageW(flags, nullptr, code, language, reinterpret_cast<LPWSTR>(buffer), 0, nullptr);
}

uint32_t FormatMessageA(uint32_t flags, uint32_t code, uint32_t language, char** buffer) {
    *buffer = nullptr;
    return ::FormatMessageA(flags, nullptr, code, language, reinterpret_cast<LPSTR>(buffer), 0, nullptr);
}

void LocalFree(void* block) { ::LocalFree(block); }

} // namespace tavo::plat
