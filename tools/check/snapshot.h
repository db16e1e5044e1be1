// A copy of a registry tree taken by walking it, so that what a library's
// registration wrote and what its unregistration left can be told apart.
#ifndef TAVOCOM_TOOLS_CHECK_SNAPSHOT_H
#define TAVOCOM_TOOLS_CHECK_SNAPSHOT_H

#include <cstdint>
#include <map>
#include <string>

#include "platform/registry.h"

namespace tavo::tools::check {

struct Value {
    uint32_t type = 0;
    std::string data; // raw bytes
    bool operator==(const Value& o) const { return type == o.type && data == o.data; }
};

/// Key path ("" for the walked key itself, else "A\B") to its values by name.
using Tree = std::map<std::string, std::map<std::string, Value>>;

/// The tree below `hive`\`path`; empty when the key does not exist.
Tree TakeSnapshot(plat::RegKeyHandle hive, const std::string& path);

/// Removes `hive`\`path` with everything under it.
void DeleteTree(plat::RegKeyHandle hive, const std::string& path);

/// A string value without its terminator; empty when it is no string.
std::string Text(const Value& value);
/// A key's default value as text, or empty.
std::string DefaultText(const Tree& tree, const std::string& key);

} // namespace tavo::tools::check

#endif
