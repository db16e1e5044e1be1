// Key handles, and the names they are used with: subkey paths split into
// levels, value names, each with the platform's limits.
#include <cstring>
#include <new>

#include "platform/posix/registry/store.h"
#include "platform/utf.h"

namespace tavo::plat::store {
namespace {

constexpr uint32_t kHandleMagic = 0x52454B59;
// Name limits as the platform's 8-bit calls apply them.
constexpr size_t kMaxSubkeyArgument = 260;
constexpr size_t kMaxSubkeyArgumentHard = 32766;
constexpr size_t kMaxKeyComponent = 256;
constexpr size_t kMaxValueName = 16383;

struct KeyObject {
    uint32_t magic = kHandleMagic;
    Target target;
};

bool Predefined(RegKeyHandle h) { return h == kHKeyLocalMachine || h == kHKeyCurrentUser; }

} // namespace

uint32_t Resolve(RegKeyHandle h, Target* t) {
    if (Predefined(h)) {
        t->hive = HiveFor(h == kHKeyLocalMachine);
        t->id = kRootId;
        t->access = kKeyAllAccess;
        return kErrorSuccess;
    }
    auto* k = reinterpret_cast<KeyObject*>(h);
    if (!k || k->magic != kHandleMagic) return kErrorInvalidHandle;
    *t = k->target;
    return kErrorSuccess;
}

uint32_t NewHandle(const std::shared_ptr<Hive>& hive, int64_t id, uint32_t access, RegKeyHandle* out) {
    auto* k = new (std::nothrow) KeyObject;
    if (!k) return kErrorOutOfMemory;
    k->target = Target{hive, id, access};
    *out = reinterpret_cast<RegKeyHandle>(k);
    return kErrorSuccess;
}

uint32_t CloseHandle(RegKeyHandle h) {
    if (Predefined(h)) return kErrorSuccess;
    auto* k = reinterpret_cast<KeyObject*>(h);
    if (!k || k->magic != kHandleMagic) return kErrorInvalidHandle;
    k->magic = 0;
    delete k;
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
