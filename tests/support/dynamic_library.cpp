#include "support/dynamic_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tavo::test {
namespace {

#if defined(_WIN32)
std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}
#endif

} // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
#if defined(_WIN32)
    m_handle = LoadLibraryA(NativePath(path).c_str());
#else
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
#else
    return dlsym(m_handle, name);
#endif
}

void DynamicLibrary::Unload() {
    if (!m_handle) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(m_handle));
#else
    dlclose(m_handle);
#endif
    m_handle = nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
#if defined(_WIN32)
    return GetModuleHandleA(NativePath(path).c_str()) != nullptr;
#else
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
#endif
}

std::string BinaryDirectory() { return TAVOCOM_BINARY_DIR; }

} // namespace tavo::test
