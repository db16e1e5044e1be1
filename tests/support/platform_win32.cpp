// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

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

namespace tavo::test {

bool HasMessageOracle() { return true; }

bool SystemMessageW(uint32_t code, WString* text) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n != 0 && buffer) text->assign(buffer, n);
    if (buffer) LocalFree(buffer);
    return n != 0;
}

} // namespace tavo::test
