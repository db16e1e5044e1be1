// tavocom register: runs a component library's self-registration, or the
// runtime's own, and reports the outcome.
#include <tavocom/library_entry.h>

#include <cstdio>
#include <filesystem>

#include "platform/loader.h"
#include "tools/command.h"
#include "tools/hive_access.h"

namespace tavo::tools {
namespace {

using EntryPoint = COM_HRESULT (*)();

// 0 is success; 1 means that at least one class failed (the entry point
// folds every failure into it), which the platform's registration tool
// passes as success but this one does not.
int Report(const std::string& what, const char* action, COM_HRESULT hr) {
    if (hr == S_OK) {
        std::printf("%s: %s (%s)\n", what.c_str(), action, StatusText(hr).c_str());
        return 0;
    }
    if (hr == S_FALSE)
        std::printf("%s: at least one class failed (%s)\n", what.c_str(), StatusText(hr).c_str());
    else
        std::printf("%s: failed with %s\n", what.c_str(), StatusText(hr).c_str());
    // Registrations live under the class root, in the machine hive.
    ExplainHiveWrite(plat::kHKeyLocalMachine, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
    return 1;
}

// The library at `path` (relative to the working directory or absolute),
// in the platform's form: the loader takes absolute paths only.
std::basic_string<COM_WCHAR> LoaderPath(const std::string& path) {
    std::error_code ignored;
    std::string full = std::filesystem::absolute(std::filesystem::path(path), ignored).string();
    for (char& c : full)
        if (c == '/') c = '\\';
    return Widen(full);
}

int RegisterLibrary(const std::string& path, bool unregister) {
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    plat::LibraryLoad library(plat::LoadLibraryW(LoaderPath(path).c_str()));
    if (!library) {
        std::printf("%s: cannot be loaded as a library\n", path.c_str());
        return 1;
    }
    auto run = reinterpret_cast<EntryPoint>(plat::GetProcAddress(library.Get(), entry));
    if (!run) {
        std::printf("%s: exports no %s\n", path.c_str(), entry);
        return 1;
    }
    return Report(path, unregister ? "unregistered" : "registered", run());
}

} // namespace

int Register(const Args& args) {
    bool unregister = false;
    std::vector<std::string> libraries;
    for (const std::string& a : args) {
        if (a == "--unregister" || a == "-u")
            unregister = true;
        else
            libraries.push_back(a);
    }
    if (libraries.empty())
        return Report(TAVOCOM_LIBRARY_FILE, unregister ? "unregistered" : "registered",
                      unregister ? DllUnregisterServer() : DllRegisterServer());
    int exit = 0;
    for (const std::string& library : libraries)
        if (RegisterLibrary(library, unregister) != 0) exit = 1;
    return exit;
}

} // namespace tavo::tools
