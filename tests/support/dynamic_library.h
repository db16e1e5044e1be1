// Loading libraries by path from tests, with the platform's loader.
#ifndef TAVOCOM_TESTS_DYNAMIC_LIBRARY_H
#define TAVOCOM_TESTS_DYNAMIC_LIBRARY_H

#include <string>

namespace tavo::test {

/// One load of a library file; unloaded by the destructor unless released.
class DynamicLibrary {
public:
    explicit DynamicLibrary(const std::string& path);
    ~DynamicLibrary() { Unload(); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    void* Symbol(const char* name) const;
    void Unload();
    /// Keeps the library loaded for the rest of the process.
    void Release() { m_handle = nullptr; }

private:
    void* m_handle = nullptr;
};

/// Whether a library with this full path is loaded in this process.
bool IsLibraryLoaded(const std::string& path);

/// Directory of the test programs and libraries (the build's bin directory).
std::string BinaryDirectory();

} // namespace tavo::test

#endif
