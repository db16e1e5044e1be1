#include "tools/check/snapshot.h"

#include <vector>

namespace tavo::tools::check {
namespace {

std::string Join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "\\" + b; }

std::vector<std::string> SubkeyNames(plat::RegKeyHandle key) {
    std::vector<std::string> names;
    char name[1024];
    for (uint32_t i = 0;; ++i) {
        uint32_t size = sizeof name;
        if (plat::RegEnumKeyExA(key, i, name, &size) != 0) break;
        names.emplace_back(name, size);
    }
    return names;
}

void Walk(plat::RegKeyHandle key, const std::string& path, int depth, Tree* tree) {
    auto& values = (*tree)[path];
    char name[16384];
    std::vector<uint8_t> data(1 << 16);
    for (uint32_t i = 0;; ++i) {
        uint32_t nameSize = sizeof name, type = 0, dataSize = uint32_t(data.size());
        if (plat::RegEnumValueA(key, i, name, &nameSize, &type, data.data(), &dataSize) != 0) break;
        values[std::string(name, nameSize)] = Value{type, std::string(data.begin(), data.begin() + dataSize)};
    }
    if (depth > 64) return;
    for (const std::string& sub : SubkeyNames(key)) {
        plat::RegKeyHandle child = nullptr;
        if (plat::RegOpenKeyExA(key, sub.c_str(), plat::kKeyRead, &child) != 0) continue;
        Walk(child, Join(path, sub), depth + 1, tree);
        plat::RegCloseKey(child);
    }
}

} // namespace

Tree TakeSnapshot(plat::RegKeyHandle hive, const std::string& path) {
    Tree tree;
    plat::RegKeyHandle key = nullptr;
    if (plat::RegOpenKeyExA(hive, path.c_str(), plat::kKeyRead, &key) != 0) return tree;
    Walk(key, "", 0, &tree);
    plat::RegCloseKey(key);
    return tree;
}

void DeleteTree(plat::RegKeyHandle hive, const std::string& path) {
    plat::RegKeyHandle key = nullptr;
    if (plat::RegOpenKeyExA(hive, path.c_str(), plat::kKeyAllAccess, &key) == 0) {
        for (const std::string& sub : SubkeyNames(key)) DeleteTree(key, sub);
        plat::RegCloseKey(key);
    }
    plat::RegDeleteKeyA(hive, path.c_str());
}

std::string Text(const Value& value) {
    if (value.type != plat::kRegSz) return std::string();
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::string DefaultText(const Tree& tree, const std::string& key) {
    auto k = tree.find(key);
    if (k == tree.end()) return std::string();
    auto v = k->second.find("");
    return v == k->second.end() ? std::string() : Text(v->second);
}

} // namespace tavo::tools::check
