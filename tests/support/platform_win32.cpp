// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/registry_sandbox.h"

#include <stdlib.h>
#include <windows.h>

namespace tavo::test {
namespace {

std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

} // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) {
    m_handle = LoadLibraryA(NativePath(path).c_str());
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void DynamicLibrary::Unload() {
    if (!m_handle) return;
    FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
    return GetModuleHandleA(NativePath(path).c_str()) != nullptr;
}

void SetEnv(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }

// The platform registry needs no hive files.
bool HasHiveFiles() { return false; }

} // namespace tavo::test
