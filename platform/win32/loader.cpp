// Library loader: the platform's own calls.
#include "platform/platform.h"
#include "platform/tool_calls.h"

#include <windows.h>

#include "platform/utf.h"

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

// The system's text of the thread's last error, with its number; its
// inserts (%1: the file) filled with the path, where one is given.
std::string LastLoadErrorText(const COM_WCHAR* path) {
    const DWORD code = ::GetLastError();
    if (code == 0) return std::string();
    wchar_t* buffer = nullptr;
    // Every insert a message may hold names the file.
    DWORD_PTR inserts[9];
    for (DWORD_PTR& insert : inserts) insert = reinterpret_cast<DWORD_PTR>(path);
    const DWORD how = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                      (path ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS);
    DWORD n = ::FormatMessageW(how, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                               path ? reinterpret_cast<va_list*>(inserts) : nullptr);
    while (n > 0 && (buffer[n - 1] == L'\n' || buffer[n - 1] == L'\r' || buffer[n - 1] == L' ')) --n;
    std::string text = "error " + std::to_string(code);
    if (n > 0) text += ": " + utf::Utf16ToUtf8(buffer, n);
    if (buffer) ::LocalFree(buffer);
    return text;
}

} // namespace tavo::plat
