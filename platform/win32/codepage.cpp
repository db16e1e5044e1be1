// The ANSI code page of the contract: the platform's own conversions.
#include "platform/registry.h"

#include <windows.h>

namespace tavo::plat {

int32_t WideCharToMultiByte(const COM_WCHAR* text, int32_t length, char* out, int32_t outSize) {
    return ::WideCharToMultiByte(CP_ACP, 0, text, length, out, outSize, nullptr, nullptr);
}

int32_t MultiByteToWideChar(const char* text, int32_t length, COM_WCHAR* out, int32_t outSize) {
    return ::MultiByteToWideChar(CP_ACP, 0, text, length, out, outSize);
}

} // namespace tavo::plat
