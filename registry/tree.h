// Whole registry trees over the platform's key calls: one walk and one
// delete, shared by the registry object and the tavocom tool. Both keep
// their path in a stack of their own, never on the machine stack, so a tree
// of any depth the store holds is handled by any thread.
#ifndef TAVOCOM_REGISTRY_TREE_H
#define TAVOCOM_REGISTRY_TREE_H

#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tavo::registry {

/// Names of every subkey of `key` (8-bit), in the order the registry lists
/// them. 0 or the Win32 error.
uint32_t SubkeyNames(plat::RegKeyHandle key, std::vector<std::string>* names);

/// One key of a walk: its handle and the names that lead to it from the
/// walk's root (empty for the root). A nonzero answer ends the walk.
using TreeVisitor = std::function<uint32_t(plat::RegKeyHandle key, const std::vector<std::string>& path)>;

/// Visits `root` and every key below it, each before its subkeys and the
/// subkeys in registry order, opening them with read access. 0, the Win32
/// error of the first step that failed, or the visitor's answer.
uint32_t WalkTree(plat::RegKeyHandle root, const TreeVisitor& visit);

/// Deletes `name` (a path) below `parent` with everything under it, opening
/// keys with `access`: the deepest first subkey goes first, until the key
/// itself goes. Stops at the first key that cannot be opened or deleted, so
/// it never loops on one. 0 or that step's Win32 error.
uint32_t DeleteTree(plat::RegKeyHandle parent, const char* name, uint32_t access);

} // namespace tavo::registry

#endif
