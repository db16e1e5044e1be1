#include "registry/tree.h"

namespace tavo::registry {
namespace {

// A name of the platform's longest (255 characters) takes up to three times
// as many bytes in a multi-byte code page: a name that does not fit the
// first buffer is read again into a larger one.
constexpr uint32_t kFirstNameBuffer = 256;
constexpr uint32_t kLongestAnsiName = 64 * 1024;

/// A subkey without a name would be the key itself again: that is taken
/// for a damaged store rather than walked into for ever.
uint32_t SubkeyName(plat::RegKeyHandle key, uint32_t index, std::string* name) {
    for (uint32_t capacity = kFirstNameBuffer;; capacity *= 4) {
        name->resize(capacity);
        uint32_t size = capacity;
        uint32_t e = plat::RegEnumKeyExA(key, index, name->data(), &size);
        if (e == 0 && size == 0) e = plat::kErrorRegistryCorrupt;
        if (e == 0 && size < capacity) {
            name->resize(size);
            return 0;
        }
        if ((e == 0 || e == plat::kErrorMoreData) && capacity < kLongestAnsiName) continue;
        name->clear();
        return e ? e : plat::kErrorMoreData;
    }
}

} // namespace

uint32_t SubkeyNames(plat::RegKeyHandle key, std::vector<std::string>* names) {
    names->clear();
    std::string name;
    for (uint32_t i = 0;; ++i) {
        uint32_t e = SubkeyName(key, i, &name);
        if (e == plat::kErrorNoMoreItems) return 0;
        if (e) return e;
        names->push_back(name);
    }
}

uint32_t WalkTree(plat::RegKeyHandle root, const TreeVisitor& visit) {
    // One level per open key below the root: its handle, its subkeys and
    // the next of them to enter.
    struct Level {
        plat::RegKey key;
        std::vector<std::string> subkeys;
        size_t next = 0;
    };
    std::vector<Level> levels;
    std::vector<std::string> path;
    if (uint32_t e = visit(root, path)) return e;
    std::vector<std::string> subkeys;
    if (uint32_t e = SubkeyNames(root, &subkeys)) return e;
    levels.push_back({plat::RegKey(), std::move(subkeys), 0});
    while (!levels.empty()) {
        Level& top = levels.back();
        if (top.next == top.subkeys.size()) {
            levels.pop_back();
            if (!path.empty()) path.pop_back();
            continue;
        }
        const plat::RegKeyHandle parent = top.key ? top.key.Get() : root;
        plat::RegKey child;
        path.push_back(std::move(top.subkeys[top.next++]));
        if (uint32_t e = plat::RegOpenKeyExA(parent, path.back().c_str(), plat::kKeyRead, child.Put())) return e;
        if (uint32_t e = visit(child.Get(), path)) return e;
        if (uint32_t e = SubkeyNames(child.Get(), &subkeys)) return e;
        levels.push_back({std::move(child), std::move(subkeys), 0});
    }
    return 0;
}

uint32_t DeleteTree(plat::RegKeyHandle parent, const char* name, uint32_t access) {
    struct Level {
        plat::RegKey key;
        std::string name; // below the level above (or `parent`)
    };
    std::vector<Level> levels(1);
    levels[0].name = name;
    if (uint32_t e = plat::RegOpenKeyExA(parent, name, access, levels[0].key.Put())) return e;
    std::string child;
    while (!levels.empty()) {
        // Any failure to name a first subkey, "none left" included, leaves
        // the key to its deletion, which reports a key that still has some.
        if (SubkeyName(levels.back().key.Get(), 0, &child) == 0) {
            Level next{plat::RegKey(), child};
            if (uint32_t e = plat::RegOpenKeyExA(levels.back().key.Get(), child.c_str(), access, next.key.Put()))
                return e;
            levels.push_back(std::move(next));
            continue;
        }
        levels.back().key.Reset();
        const plat::RegKeyHandle above = levels.size() > 1 ? levels[levels.size() - 2].key.Get() : parent;
        if (uint32_t e = plat::RegDeleteKeyA(above, levels.back().name.c_str())) return e;
        levels.pop_back();
    }
    return 0;
}

} // namespace tavo::registry
