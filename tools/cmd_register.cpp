// tavocom register: runs a component library's self-registration, or the
// runtime's own, and reports the outcome with the platform registration
// tool's exit codes.
#include <tavocom/library_entry.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/loader.h"
#include "tools/class_check.h"
#include "tools/command.h"
#include "tools/hive_access.h"

namespace tavo::tools {
namespace {

using EntryPoint = COM_HRESULT (*)();

// The platform registration tool's codes; bad arguments keep the usage
// code that every command of this tool has (that tool answers 1).
enum Exit { kOk = 0, kArgs = 2, kLoad = 3, kEntry = 4, kFailed = 5 };

struct Settings {
    bool unregister = false;
    bool silent = false;
    bool runtime = false;
    std::vector<std::string> libraries;
};

// A class as the registry lists it: its InprocServer32 value and install count.
struct Entry {
    std::string server;
    uint32_t installs = 0;
};
using Snapshot = std::map<std::string, Entry>;

// Every class under the class root; empty when there is none.
Snapshot TakeSnapshot() {
    Snapshot classes;
    utlAutoIf<COM_IRegistry> registry;
    if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()))) return classes;
    utlAutoIf<COM_IEnumBSTR> keys;
    if (COM_FAILED(COM_OpenClassRootPath(registry.Get(), {COM_KEY_CLSID})) ||
        COM_FAILED(registry->EnumKeys(keys.Put())))
        return classes;
    for (const auto& name : AllNames(keys.Get())) {
        _COM_GUID clsid{};
        if (COM_FAILED(COM_StringToCLSID(name.c_str(), &clsid))) continue;
        Entry& entry = classes[NarrowZ(name.c_str())];
        utlAutoBstr server;
        if (COM_SUCCEEDED(COM_ReadClassEntryText(registry.Get(), clsid, COM_KEY_INPROCSERVER32, server.Put())))
            entry.server = NarrowZ(server.Get());
        if (COM_SUCCEEDED(COM_OpenClassEntry(registry.Get(), clsid, COM_KEY_INSTALLCOUNT)))
            registry->GetDWordValue(COM_TEXT(""), &entry.installs);
    }
    return classes;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
}

// After a registration: the paths activation loads the library's classes
// from (the runtime's directory joined with the names it registered), with
// a warning when `library` is not that file.
void ShowLoadPaths(const std::string& library, const Snapshot& before, const Snapshot& after, bool silent) {
    std::map<std::string, int> servers;
    for (const auto& [clsid, entry] : after) {
        auto old = before.find(clsid);
        if (!entry.server.empty() && (old == before.end() || old->second.installs != entry.installs))
            ++servers[entry.server];
    }
    for (const auto& [server, count] : servers) {
        WString path;
        bool outside = false;
        StepResult step = ResolveLibraryPath(Widen(server), &path, &outside);
        if (!step.Passed()) {
            std::fprintf(stderr, "%s: warning: %s\n", library.c_str(), step.detail.c_str());
            continue;
        }
        const std::string shown = DisplayPath(path);
        if (!silent) std::printf("%s: activation loads %d classes from %s\n", library.c_str(), count, shown.c_str());
        if (!SameFile(library, shown))
            std::fprintf(stderr,
                         "%s: warning: this is not the file activation loads (%s, the runtime's directory joined "
                         "with the registered name \"%s\")\n",
                         library.c_str(), shown.c_str(), server.c_str());
    }
}

// After a successful unregistration: what became of the classes.
std::string UnregisterOutcome(const Snapshot& before, const Snapshot& after) {
    int removed = 0, lowered = 0;
    uint32_t left = 0;
    for (const auto& [clsid, entry] : before) {
        auto now = after.find(clsid);
        if (now == after.end()) {
            ++removed;
        } else if (now->second.installs < entry.installs) {
            ++lowered;
            left = std::max(left, now->second.installs);
        }
    }
    if (lowered && !removed) return "still registered (" + std::to_string(left) + " left)";
    if (!lowered && !removed) return "not registered";
    if (lowered) return "unregistered " + std::to_string(removed) + " classes, others still registered (" +
                        std::to_string(left) + " left)";
    return "unregistered";
}

// The classes of `snapshot` whose library file is called `file`.
std::vector<std::string> ClassesOf(const Snapshot& snapshot, const std::string& file) {
    const std::string name = std::filesystem::path(file).filename().string();
    std::vector<std::string> classes;
    for (const auto& [clsid, entry] : snapshot) {
        std::string server = entry.server;
        const size_t cut = server.find_last_of("/\\");
        if (cut != std::string::npos) server.erase(0, cut + 1);
        if (SameName(server, name)) classes.push_back(clsid);
    }
    return classes;
}

// Whether an unregistration that answered S_FALSE did what one that keeps
// installed classes does: it found nothing of the library, or it lowered
// the count of each of its classes by one and removed none.
bool OnlyKept(const Snapshot& before, const Snapshot& after, const std::string& file) {
    const std::vector<std::string> classes = ClassesOf(before, file);
    if (classes.empty()) return after.size() == before.size();
    for (const std::string& clsid : classes) {
        auto now = after.find(clsid);
        if (now == after.end() || now->second.installs + 1 != before.at(clsid).installs) return false;
    }
    return true;
}

int Report(const std::string& what, const Settings& s, COM_HRESULT hr, const Snapshot& before) {
    // An unregistration folds "none of the classes was there" and "still
    // installed" into S_FALSE, as it does a failure: the registry tells.
    const COM_HRESULT answered = hr;
    if (hr == S_FALSE && s.unregister && OnlyKept(before, TakeSnapshot(), what)) hr = S_OK;
    if (hr == S_OK) {
        if (s.silent) return kOk;
        const std::string outcome = s.unregister ? UnregisterOutcome(before, TakeSnapshot()) : "registered";
        std::printf("%s: %s (%s)\n", what.c_str(), outcome.c_str(), StatusText(answered).c_str());
        return kOk;
    }
    std::fflush(stdout);
    if (hr == S_FALSE)
        std::fprintf(stderr, "%s: at least one class failed (%s)\n", what.c_str(), StatusText(hr).c_str());
    else
        std::fprintf(stderr, "%s: failed with %s\n", what.c_str(), StatusText(hr).c_str());
    // Registrations live under the class root, in the machine hive.
    ExplainHiveWrite(plat::kHKeyLocalMachine, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
    return kFailed;
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

int RegisterLibrary(const std::string& path, const Settings& s) {
    const char* entry = s.unregister ? "DllUnregisterServer" : "DllRegisterServer";
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) {
        std::fprintf(stderr, "%s: is a directory, not a library\n", path.c_str());
        return kLoad;
    }
    if (!std::filesystem::exists(status)) {
        std::fprintf(stderr, "%s: no such file\n", path.c_str());
        return kLoad;
    }
    const WString loaderPath = LoaderPath(path);
    plat::LibraryLoad library(plat::LoadLibraryW(loaderPath.c_str()));
    if (!library) {
        std::string why = plat::LastLoadErrorText(loaderPath.c_str());
        std::fprintf(stderr, "%s: cannot be loaded as a library%s%s\n", path.c_str(), why.empty() ? "" : "; loader: ",
                     why.c_str());
        return kLoad;
    }
    auto run = reinterpret_cast<EntryPoint>(plat::GetProcAddress(library.Get(), entry));
    if (!run) {
        std::fprintf(stderr, "%s: exports no %s\n", path.c_str(), entry);
        return kEntry;
    }
    const Snapshot before = TakeSnapshot();
    const int exit = Report(path, s, run(), before);
    if (exit == kOk && !s.unregister) ShowLoadPaths(path, before, TakeSnapshot(), s.silent);
    return exit;
}

int RegisterRuntime(const Settings& s) {
    const Snapshot before = s.unregister ? TakeSnapshot() : Snapshot();
    return Report(TAVOCOM_LIBRARY_FILE, s, s.unregister ? DllUnregisterServer() : DllRegisterServer(), before);
}

// A word that starts with `-`, or with `/` and has no further separator or
// dot and names nothing on disk (so that absolute paths stay files), is an
// option.
bool IsOption(const std::string& a) {
    if (a.size() < 2) return false;
    if (a[0] == '-') return true;
    std::error_code error;
    return a[0] == '/' && a.find_first_of("/\\.", 1) == std::string::npos && !std::filesystem::exists(a, error);
}

int Usage(const char* problem, const std::string& word) {
    if (problem) std::fprintf(stderr, "register: %s%s\n", problem, word.c_str());
    std::fprintf(stderr, "usage: tavocom register [/u | -u | --unregister] [/s] (--runtime | LIBRARY...)\n");
    return kArgs;
}

} // namespace

int Register(const Args& args) {
    Settings s;
    bool files = false; // after `--`, every word is a library
    for (const std::string& a : args) {
        if (files || !IsOption(a)) {
            s.libraries.push_back(a);
        } else if (a == "--") {
            files = true;
        } else if (a == "/u" || a == "/U" || a == "-u" || a == "--unregister") {
            s.unregister = true;
        } else if (a == "/s" || a == "/S" || a == "-s" || a == "--silent") {
            s.silent = true;
        } else if (a == "--runtime") {
            s.runtime = true;
        } else {
            return Usage("unknown option ", a);
        }
    }
    if (!s.runtime && s.libraries.empty()) return Usage("no library given (--runtime registers the runtime)", "");
    // The runtime's classes come first and go last: components may rely on them.
    int exit = kOk;
    auto note = [&exit](int code) {
        if (exit == kOk) exit = code;
    };
    if (s.runtime && !s.unregister) note(RegisterRuntime(s));
    for (const std::string& library : s.libraries) note(RegisterLibrary(library, s));
    if (s.runtime && s.unregister) note(RegisterRuntime(s));
    return exit;
}

} // namespace tavo::tools
