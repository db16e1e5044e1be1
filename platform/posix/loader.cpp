// Library loader over the dynamic linker. Module handles are the linker's
// own handles; file names are reported with `\` between directories, as
// the logic expects, and turned back into `/` when a library is loaded,
// except the `\` characters that a reported directory has in its own name.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/tool_calls.h"
#include "platform/utf.h"

namespace tavo::plat {
namespace {

// The handle of an object that is already loaded, without keeping an extra
// load on it (the platform's module lookup takes no reference either).
ModuleHandle HandleOfLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle;
}

// The file mapped at `address`, as the kernel names it: always absolute.
std::string MappedFile(const void* address) {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return std::string();
    std::string found;
    char line[PATH_MAX + 128];
    const auto at = reinterpret_cast<uintptr_t>(address);
    while (found.empty() && std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        int pathAt = 0;
        if (std::sscanf(line, "%lx-%lx %*s %*s %*s %*s %n", &start, &end, &pathAt) < 2 || pathAt == 0) continue;
        if (at < start || at >= end || line[pathAt] != '/') continue;
        found = line + pathAt;
        while (!found.empty() && found.back() == '\n') found.pop_back();
    }
    std::fclose(maps);
    return found;
}

std::string PathOf(ModuleHandle module) {
    if (!module) {
        char buffer[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, size_t(n)) : std::string();
    }
    struct link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return std::string();
    // The linker keeps the name it was given; one given relative (a host's
    // dlopen("./lib..."), a relative search path) is reported as the
    // platform reports every module: by its full name.
    if (map->l_name[0] == '/') return map->l_name;
    return MappedFile(map->l_ld);
}

// Directories of reported module names that hold a `\` in their own name,
// as reported (`\` for every `/`) and as they are. The logic joins file
// names only to directories it was given, so a path that starts with one
// of these gets that directory's own characters back. A name is recorded
// only when it holds a `\`: the common case pays one atomic load.
struct ReportedDirectory {
    std::string reported, real;
};
std::mutex g_reportedLock;
std::vector<ReportedDirectory>& Reported() {
    static std::vector<ReportedDirectory> list;
    return list;
}
std::atomic<bool> g_anyReported{false};

void NoteReported(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == path.npos || path.find('\\') > slash) return;
    ReportedDirectory entry{path.substr(0, slash + 1), path.substr(0, slash + 1)};
    std::replace(entry.reported.begin(), entry.reported.end(), '/', '\\');
    std::lock_guard<std::mutex> lock(g_reportedLock);
    for (const ReportedDirectory& known : Reported())
        if (known.real == entry.real) return;
    Reported().push_back(std::move(entry));
    g_anyReported.store(true, std::memory_order_release);
}

// `path` (`\` separated, `n` bytes) in the linker's form, in place; a
// reported directory's own characters may make it longer, into `longer`.
const char* LinkerPath(char* path, size_t n, std::string* longer) {
    size_t keep = 0;
    if (g_anyReported.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_reportedLock);
        for (const ReportedDirectory& known : Reported()) {
            if (known.reported.size() > keep && known.reported.size() <= n &&
                std::memcmp(path, known.reported.data(), known.reported.size()) == 0) {
                *longer = known.real + std::string(path + known.reported.size(), n - known.reported.size());
                keep = known.real.size();
            }
        }
    }
    if (keep == 0) {
        std::replace(path, path + n, '\\', '/');
        return path;
    }
    std::replace(longer->begin() + ptrdiff_t(keep), longer->end(), '\\', '/');
    return longer->c_str();
}

// The libraries LoadLibraryW opened, each holding one load of the linker's
// while the platform's count of it, kept here, is above zero. A second load
// of a path already open is then a table lookup, as the platform's loader
// answers for a module it already has, and the entries GetProcAddress found
// to be a library's own are remembered with it until it is unloaded: the
// handle cannot name another library while the table holds its load.
class LoadedLibraries {
public:
    ModuleHandle Find(std::string_view path) noexcept {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_byPath.find(path);
        if (it == m_byPath.end()) return nullptr;
        ++m_libraries.find(it->second)->second.loads;
        return it->second;
    }
    // Counts a load the linker just made; false when the table already held
    // one of that library, which the caller then drops. Without memory for
    // a new entry the linker's load stays the caller's, untracked, and
    // FreeLibrary hands it back to the linker.
    bool Add(const char* path, ModuleHandle module) noexcept {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_libraries.find(module);
        const bool fresh = it == m_libraries.end();
        try {
            if (fresh) it = m_libraries.try_emplace(module).first;
        } catch (const std::bad_alloc&) {
            return true;
        }
        ++it->second.loads;
        try {
            m_byPath.emplace(path, module);
        } catch (const std::bad_alloc&) {
            // Not found by this path: the next load asks the linker again.
        }
        return fresh;
    }
    // True when the linker's load is to be dropped: the last load of a
    // library of the table, or a handle the table does not hold.
    bool Drop(ModuleHandle module) noexcept {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_libraries.find(module);
        if (it == m_libraries.end()) return true;
        if (--it->second.loads > 0) return false;
        m_libraries.erase(it);
        for (auto path = m_byPath.begin(); path != m_byPath.end();)
            path = path->second == module ? m_byPath.erase(path) : std::next(path);
        return true;
    }
    void* Entry(ModuleHandle module, const char* name) noexcept {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_libraries.find(module);
        if (it == m_libraries.end()) return nullptr;
        for (const auto& entry : it->second.entries)
            if (entry.first == name) return entry.second;
        return nullptr;
    }
    void NoteEntry(ModuleHandle module, const char* name, void* entry) noexcept {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_libraries.find(module);
        if (it == m_libraries.end() || it->second.entries.size() >= kMostEntries) return;
        try {
            it->second.entries.emplace_back(name, entry);
        } catch (const std::bad_alloc&) {
            // Looked up by the linker again next time.
        }
    }

private:
    struct Library {
        uint64_t loads = 0;
        std::vector<std::pair<std::string, void*>> entries;
    };
    // Looked up by the converted path without making a string of it.
    struct PathHash {
        using is_transparent = void;
        size_t operator()(std::string_view path) const noexcept { return std::hash<std::string_view>()(path); }
    };
    static constexpr size_t kMostEntries = 64;
    std::mutex m_lock;
    std::unordered_map<std::string, ModuleHandle, PathHash, std::equal_to<>> m_byPath;
    std::unordered_map<ModuleHandle, Library> m_libraries;
};

LoadedLibraries& Loaded() {
    static LoadedLibraries table;
    return table;
}

template <class Char>
uint32_t CopyTruncated(const std::basic_string<Char>& text, Char* buffer, uint32_t capacity) {
    if (capacity == 0) return 0;
    // Like the platform: a name that does not fit is cut and still
    // terminated, and the full capacity is reported.
    uint32_t n = uint32_t(std::min<size_t>(text.size(), capacity - 1));
    std::copy(text.begin(), text.begin() + n, buffer);
    buffer[n] = 0;
    return text.size() >= capacity ? capacity : n;
}

// Whether `base` is the file `plain` (lib<name>.so) or a versioned name of
// it (lib<name>.so.0, lib<name>.so.0.1.0): a program that links the library
// loads it by the versioned name.
bool IsLibraryFile(const char* base, const std::string& plain) {
    if (std::strncmp(base, plain.c_str(), plain.size()) != 0) return false;
    const char* version = base + plain.size();
    while (*version == '.' && std::isdigit(static_cast<unsigned char>(version[1]))) {
        ++version;
        while (std::isdigit(static_cast<unsigned char>(*version))) ++version;
    }
    return *version == '\0';
}

} // namespace

ModuleHandle GetModuleHandleA(const char* name) {
    struct Search {
        std::string wanted;
        std::string found;
    } search{std::string("lib") + name + ".so", {}};
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const char* path = info->dlpi_name;
            if (!path || !*path) return 0;
            const char* base = std::strrchr(path, '/');
            base = base ? base + 1 : path;
            if (!IsLibraryFile(base, s->wanted)) return 0;
            s->found = path;
            return 1;
        },
        &search);
    return search.found.empty() ? nullptr : HandleOfLoaded(search.found.c_str());
}

uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, uint32_t capacity) {
    std::string path = PathOf(module);
    if (path.empty()) return 0;
    NoteReported(path);
    std::replace(path.begin(), path.end(), '/', '\\');
    return CopyTruncated(path, buffer, capacity);
}

uint32_t GetModuleFileNameW(ModuleHandle module, COM_WCHAR* buffer, uint32_t capacity) {
    std::string path = PathOf(module);
    if (path.empty()) return 0;
    NoteReported(path);
    utf::WideString wide = utf::Utf8ToUtf16(path.data(), path.size());
    std::replace(wide.begin(), wide.end(), COM_WCHAR('/'), COM_WCHAR('\\'));
    return CopyTruncated(wide, buffer, capacity);
}

ModuleHandle LoadLibraryW(const COM_WCHAR* path) {
    // A failure refused before the linker is asked leaves no stale text.
    dlerror();
    if (!path || Injected(Fault::Loader)) return nullptr;
    size_t length = 0;
    while (path[length]) ++length;
    // A path that fits is converted on the stack.
    char small[PATH_MAX];
    std::string large;
    char* narrow = small;
    size_t n = utf::Utf16ToUtf8(path, length, small, sizeof small - 1);
    if (n >= sizeof small) {
        large = utf::Utf16ToUtf8(path, length);
        narrow = large.data();
    }
    narrow[n] = '\0';
    std::string longer;
    const char* linker = LinkerPath(narrow, n, &longer);
    // Only an absolute path: the dynamic linker would search LD_LIBRARY_PATH
    // and its caches for a bare name.
    if (linker[0] != '/') return nullptr;
    if (ModuleHandle known = Loaded().Find(linker)) return known;
    ModuleHandle module = dlopen(linker, RTLD_NOW | RTLD_LOCAL);
    // Another thread may have opened the same library meanwhile; the table
    // keeps one load of the linker's per library.
    if (module && !Loaded().Add(linker, module)) dlclose(module);
    return module;
}

void* GetProcAddress(ModuleHandle module, const char* name) {
    if (!module || !name || Injected(Fault::Loader)) return nullptr;
    if (void* known = Loaded().Entry(module, name)) return known;
    void* entry = dlsym(module, name);
    if (!entry) return nullptr;
    // The dynamic linker also searches the library's dependencies; the
    // platform call looks at the module's own exports only.
    struct link_map* own = nullptr;
    struct link_map* holder = nullptr;
    Dl_info info{};
    if (dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 ||
        dladdr1(entry, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 || holder != own)
        return nullptr;
    Loaded().NoteEntry(module, name, entry);
    return entry;
}

void FreeLibrary(ModuleHandle module) {
    if (module && Loaded().Drop(module)) dlclose(module);
}

// The loader's text names the file itself.
std::string LastLoadErrorText(const COM_WCHAR*) {
    const char* text = dlerror();
    return text ? std::string(text) : std::string();
}

} // namespace tavo::plat
