#include "tools/class_check.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "core/library_path.h"
#include "platform/tool_calls.h"
#include "registry/root_path.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

std::filesystem::path FileSystemPath(WString path) {
    for (COM_WCHAR& c : path)
        if (c == COM_WCHAR('\\')) c = COM_WCHAR('/');
    return std::filesystem::path(path);
}

StepResult Failed(COM_HRESULT activation, std::string detail) { return StepResult{activation, std::move(detail)}; }

} // namespace

std::string ClassRootPath() {
    // The registry service's own rule: an unset or empty variable means the
    // default version key.
    const char* version = std::getenv(registry::kVersionVariable);
    return std::string("HKLM\\") + registry::kMakerKey + (version && *version ? version : registry::kDefaultVersion) +
           registry::kClassesKey;
}

ServerEntry ReadServerEntry(COM_IRegistry* registry, const _COM_GUID& clsid) {
    ServerEntry entry;
    auto fail = [&](const char* part, COM_HRESULT hr) {
        entry.failedAt = part;
        entry.status = hr;
        return entry;
    };
    COM_HRESULT hr = registry->Open(COM_REGROOT_CLASSES, COM_KEY_CLSID);
    if (COM_FAILED(hr)) return fail("class root", hr);
    hr = registry->OpenKey(Widen(GuidText(clsid)).c_str());
    if (COM_FAILED(hr)) return fail("class key", hr);
    hr = registry->OpenKey(COM_KEY_INPROCSERVER32);
    if (COM_FAILED(hr)) {
        entry.noServerKey = true;
        return fail("server entry", hr);
    }
    utlAutoBstr text;
    hr = registry->GetStringValue(COM_TEXT(""), text.Put());
    if (COM_SUCCEEDED(hr)) hr = registry->Close();
    if (COM_FAILED(hr)) return fail("server entry", hr);
    // The runtime takes the text up to its terminator.
    for (const COM_WCHAR* c = text.Get(); c && *c; ++c) entry.file += *c;
    return entry;
}

StepResult ResolveLibraryPath(const WString& file, WString* path, bool* outside) {
    const std::optional<WString> directory = core::RuntimeDirectory();
    if (!directory)
        return Failed(CO_E_DLLNOTFOUND, "the runtime's file name is unknown, or cut inside its directory at " +
                                            std::to_string(core::kModuleNameCapacity - 1) + " characters");
    *path = core::ComponentPath(*directory, file);
    *outside = core::LeavesDirectoryTree(*directory, *path);
    return StepResult{S_OK, DisplayPath(*path) + (*outside ? " (outside the runtime's directory)" : "")};
}

LibraryCheck CheckLibrary(const WString& path) {
    LibraryCheck check;
    plat::LibraryLoad library(plat::LoadLibraryW(path.c_str()));
    if (!library.Get()) {
        std::string message = plat::LastLoadErrorText(path.c_str());
        std::error_code ignored;
        const auto status = std::filesystem::status(FileSystemPath(path), ignored);
        check.isDirectory = std::filesystem::is_directory(status);
        check.fileMissing = !check.isDirectory && !std::filesystem::is_regular_file(status);
        check.failedAt = "load";
        check.result = Failed(CO_E_DLLNOTFOUND, std::string(check.isDirectory   ? "a directory, not a library file; "
                                                            : check.fileMissing ? "no such file; "
                                                                                : "") +
                                                    "loader: " + (message.empty() ? "(no message)" : message));
        return check;
    }
    check.getClassObject =
        reinterpret_cast<COM_PFN_GetClassObject>(plat::GetProcAddress(library.Get(), "GetClassObject"));
    const bool canUnloadNow = plat::GetProcAddress(library.Get(), "CanUnloadNow") != nullptr;
    if (!check.getClassObject || !canUnloadNow) {
        check.failedAt = check.getClassObject ? "CanUnloadNow" : "GetClassObject";
        check.result = Failed(CO_E_ERRORINDLL, std::string("the library does not export ") + check.failedAt);
        check.getClassObject = nullptr;
        return check;
    }
    library.Release();
    check.result = StepResult{S_OK, "loaded, exports GetClassObject and CanUnloadNow"};
    return check;
}

void AskForFactory(COM_PFN_GetClassObject getClassObject, const _COM_GUID& clsid, FactoryAnswer* answer) {
    COM_HRESULT hr = getClassObject(&clsid, &COM_IID_IClassFactory, answer->factory.PutVoid());
    if (COM_FAILED(hr)) {
        answer->factory.Reset(nullptr);
        answer->result = Failed(hr, "GetClassObject answered " + StatusText(hr));
    } else if (!answer->factory.Get()) {
        answer->raises = true;
        answer->result = Failed(E_POINTER, "GetClassObject answered " + StatusText(hr) +
                                               " without a factory (the runtime raises XBadPtrException)");
    } else {
        answer->result = StepResult{S_OK, "GetClassObject answered " + StatusText(hr) + " with a factory"};
    }
}

std::string DisplayPath(const WString& path) {
    WString shown = path;
    for (COM_WCHAR& c : shown)
        if (c == COM_WCHAR('\\') || c == COM_WCHAR('/')) c = COM_WCHAR(std::filesystem::path::preferred_separator);
    return NarrowZ(shown.c_str());
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace tavo::tools
