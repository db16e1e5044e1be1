// Key handles, and the names they are used with: subkey paths split into
// levels, value names, each with the platform's limits.
#include <cstring>
#include <new>

#include "platform/posix/registry/store.h"
#include "platform/utf.h"

namespace tavo::plat::store {
namespace {

// Name limits as the platform's 8-bit calls apply them.
constexpr size_t kMaxSubkeyArgument = 260;
constexpr size_t kMaxSubkeyArgumentHard = 32766;
constexpr size_t kMaxKeyComponent = 256;
constexpr size_t kMaxValueName = 16383;

// Handle values are multiples of four, like the platform's, from a counter
// that never repeats one: a stale handle cannot reach a newer key.
constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kHandleStep = 4;

/// The open handles. A handle is looked up here before anything is read
/// through it, so a closed or foreign value is refused without being
/// followed.
struct HandleTable {
    std::mutex mu; // guards everything below
    std::unordered_map<uintptr_t, Target> open;
    uintptr_t next = kFirstHandle;
};

HandleTable& Handles() {
    // Never destroyed: keys may still be closed while the process exits.
    static HandleTable* const table = new HandleTable;
    return *table;
}

bool Predefined(RegKeyHandle h) { return h == kHKeyLocalMachine || h == kHKeyCurrentUser; }

} // namespace

uint32_t Resolve(RegKeyHandle h, Target* t) {
    if (Predefined(h)) {
        t->hive = HiveFor(h == kHKeyLocalMachine);
        t->id = kRootId;
        t->access = kKeyAllAccess;
        return kErrorSuccess;
    }
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    auto it = table.open.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.open.end()) return kErrorInvalidHandle;
    *t = it->second;
    return kErrorSuccess;
}

uint32_t NewHandle(const std::shared_ptr<Hive>& hive, int64_t id, uint32_t access, RegKeyHandle* out) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    try {
        table.open.emplace(table.next, Target{hive, id, access});
    } catch (const std::bad_alloc&) {
        return kErrorOutOfMemory;
    }
    *out = reinterpret_cast<RegKeyHandle>(table.next);
    table.next += kHandleStep;
    return kErrorSuccess;
}

uint32_t CloseHandle(RegKeyHandle h) {
    if (Predefined(h)) return kErrorSuccess;
    Target closed; // let go after the lock: the last handle into a hive closes its connection
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    auto it = table.open.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.open.end()) return kErrorInvalidHandle;
    closed = std::move(it->second);
    table.open.erase(it);
    return kErrorSuccess;
}

uint32_t SplitPath(const char* subkey, std::vector<std::u16string>* parts) {
    if (!subkey) return kErrorSuccess;
    std::u16string all = utf::Utf8ToUtf16(subkey, std::strlen(subkey));
    if (all.size() > kMaxSubkeyArgumentHard) return kErrorInvalidParameter;
    if (all.size() > kMaxSubkeyArgument) return kErrorMoreData;
    if (!all.empty() && all[0] == u'\\') return kErrorBadPathname;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(u'\\', start);
        if (end == std::u16string::npos) end = all.size();
        if (end > start) {
            if (end - start > kMaxKeyComponent) return kErrorInvalidParameter;
            parts->push_back(all.substr(start, end - start));
        }
        start = end + 1;
    }
    return kErrorSuccess;
}

bool ValueName(const char* name, std::u16string* out) {
    if (name) *out = utf::Utf8ToUtf16(name, std::strlen(name));
    return out->size() <= kMaxValueName;
}

} // namespace tavo::plat::store
