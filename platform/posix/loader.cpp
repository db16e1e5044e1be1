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
#include <string>
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

// Entries that GetProcAddress found to be a module's own, until that module
// is unloaded here: a library stays loaded while this process holds a load
// of it, and only FreeLibrary drops one.
class OwnEntryList {
public:
    bool Known(ModuleHandle module, void* entry) {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const auto& e : m_entries)
            if (e.first == module && e.second == entry) return true;
        return false;
    }
    void Add(ModuleHandle module, void* entry) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_entries.size() >= kMostEntries) m_entries.clear();
        m_entries.emplace_back(module, entry);
    }
    void Forget(ModuleHandle module) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [module](const auto& e) { return e.first == module; }),
                        m_entries.end());
    }

private:
    static constexpr size_t kMostEntries = 256;
    std::mutex m_lock;
    std::vector<std::pair<ModuleHandle, void*>> m_entries;
};

OwnEntryList& OwnEntries() {
    static OwnEntryList list;
    return list;
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
    return dlopen(linker, RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(ModuleHandle module, const char* name) {
    if (!module || !name || Injected(Fault::Loader)) return nullptr;
    void* entry = dlsym(module, name);
    if (!entry) return nullptr;
    // The dynamic linker also searches the library's dependencies; the
    // platform call looks at the module's own exports only. The address
    // lookup that tells them apart is done once per entry of a loaded module.
    if (OwnEntries().Known(module, entry)) return entry;
    struct link_map* own = nullptr;
    struct link_map* holder = nullptr;
    Dl_info info{};
    if (dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 ||
        dladdr1(entry, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 || holder != own)
        return nullptr;
    OwnEntries().Add(module, entry);
    return entry;
}

void FreeLibrary(ModuleHandle module) {
    if (!module) return;
    // The handle may name another library once this one is gone.
    OwnEntries().Forget(module);
    dlclose(module);
}

// The loader's text names the file itself.
std::string LastLoadErrorText(const COM_WCHAR*) {
    const char* text = dlerror();
    return text ? std::string(text) : std::string();
}

} // namespace tavo::plat
