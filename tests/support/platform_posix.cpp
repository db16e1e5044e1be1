// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

#include <dlfcn.h>
#include <stdlib.h>

namespace tavo::test {

DynamicLibrary::DynamicLibrary(const std::string& path) {
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return dlsym(m_handle, name);
}

void DynamicLibrary::Unload() {
    if (!m_handle) return;
    dlclose(m_handle);
    m_handle = nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

void SetEnv(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool HasHiveFiles() { return true; }

} // namespace tavo::test

namespace tavo::test {

// No system message table here: nothing to compare the texts with.
bool HasMessageOracle() { return false; }
bool SystemMessageW(uint32_t, WString*) { return false; }

} // namespace tavo::test
