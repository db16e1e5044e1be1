// Library loader: the platform's own calls.
#include "platform/platform.h"

#include <windows.h>

namespace tavo::plat {

ModuleHandle GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

uint32_t GetModuleFileNameW(ModuleHandle module, COM_WCHAR* buffer, uint32_t capacity) {
    return ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer, capacity);
}

uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, uint32_t capacity) {
    return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, capacity);
}

ModuleHandle LoadLibraryW(const COM_WCHAR* path) { return ::LoadLibraryW(path); }

void* GetProcAddress(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeLibrary(ModuleHandle module) { ::FreeLibrary(static_cast<HMODULE>(module)); }

} // namespace tavo::plat
