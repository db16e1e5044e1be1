// Library loader and module names, with the platform's names and results.
#ifndef TAVOCOM_PLATFORM_LOADER_H
#define TAVOCOM_PLATFORM_LOADER_H

#include <tavocom/types.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/unique_handle.h"

namespace tavo::plat {

/// Handle under which the platform loaded a module (this library or a
/// component library). Opaque to the logic.
using ModuleHandle = void*;

/// The loaded module called `name` (no directory, no suffix: "TAVOCOM64"),
/// or null if none is loaded.
ModuleHandle GetModuleHandleA(const char* name);

/// Full file name of a loaded module with `\` separating directories,
/// truncated to `capacity` characters including the terminator; returns the
/// number of characters written without the terminator, 0 on failure.
uint32_t GetModuleFileNameW(ModuleHandle module, COM_WCHAR* buffer, uint32_t capacity);
uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, uint32_t capacity);

/// The directory of the loaded module `name`, with its trailing `\` (empty
/// if its file name has none), as the name read into `capacity` characters
/// gives it when cut after its last `\`. None when the module is not loaded
/// or that cut falls inside the directory: the cut name would then point at
/// a directory above the module's own. A name cut only in its file part
/// still gives the right directory; the whole name, read into a larger
/// buffer, tells which case it is.
inline std::optional<std::basic_string<COM_WCHAR>> ModuleDirectory(const char* name, uint32_t capacity) {
    constexpr uint32_t kLongestName = 32768;
    ModuleHandle module = GetModuleHandleA(name);
    if (!module || capacity < 2) return std::nullopt;
    std::basic_string<COM_WCHAR> file(capacity, COM_WCHAR(0));
    // A name that does not fit is reported with the buffer's full size.
    uint32_t n = GetModuleFileNameW(module, file.data(), capacity);
    for (uint32_t size = capacity; n >= size && size < kLongestName;) {
        size = std::min(size * 2, kLongestName);
        file.assign(size, COM_WCHAR(0));
        n = GetModuleFileNameW(module, file.data(), size);
    }
    if (n == 0 || n >= file.size()) return std::nullopt;
    file.resize(n);
    const size_t slash = file.rfind(COM_WCHAR('\\'));
    if (slash == file.npos) return std::basic_string<COM_WCHAR>();
    if (slash + 1 > capacity - 1) return std::nullopt;
    return file.substr(0, slash + 1);
}

/// Loads the library at exactly this absolute path (`\` separated); null if
/// it cannot be loaded. Never searches any other place for it.
ModuleHandle LoadLibraryW(const COM_WCHAR* path);

/// Address of an exported entry, or null.
void* GetProcAddress(ModuleHandle module, const char* name);

/// Drops one load of the library.
void FreeLibrary(ModuleHandle module);

/// Owner of one load of a library.
using LibraryLoad = UniqueHandle<ModuleHandle, &FreeLibrary>;

/// The loader's own words, in UTF-8 and without a final line break, for why
/// the last LoadLibraryW of this thread returned null; empty when it gives
/// none. Asked right after the failed load (any later call may replace it).
/// `path`, the file that failed, fills the system text's inserts (%1).
std::string LastLoadErrorText(const COM_WCHAR* path = nullptr);

} // namespace tavo::plat

#endif
