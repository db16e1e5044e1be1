// Registry text trees and the registry itself: reading a key's tree with
// the platform calls, and applying a parsed file in one write batch.
#ifndef TAVOCOM_TOOLS_REG_TEXT_STORE_H
#define TAVOCOM_TOOLS_REG_TEXT_STORE_H

#include <string>

#include "platform/registry.h"
#include "tools/reg_text.h"

namespace tavo::tools::regtext {

/// 8-bit text of the platform's ANSI code page to UTF-16: the decoder of
/// 8-bit files and of command-line arguments.
utf::WideString FromAnsiCodePage(const char* text, size_t length);

/// The key at `path` (UTF-8, HKLM\... or HKCU\..., long names too) and its
/// whole subtree, subkeys in the order the registry lists them. 0 or the
/// Win32 error.
uint32_t ReadTree(const std::string& path, Tree* tree);

/// Deletes key `name` below `parent` with its whole tree (8-bit names).
/// 0 or the Win32 error of the first step that failed.
uint32_t DeleteTree(plat::RegKeyHandle parent, const std::string& name);

struct ApplyFailure {
    size_t line = 0;  ///< of the key line at which the import stopped (0: none)
    std::string what; ///< for a file that cannot be applied at all
    uint32_t error = 0;
    bool undone = false; ///< the batch was rolled back: nothing of the file stays
};

/// Writes `tree` into the registry in one write batch (see
/// plat::BeginRegistryBatch): keys are created, `[-KEY]` trees and `=-`
/// values deleted (missing ones are no fault). A tree touches one hive;
/// one with keys of both is refused before anything is written. 0 or the
/// Win32 error, with `failure` filled in.
uint32_t Apply(const Tree& tree, ApplyFailure* failure);

} // namespace tavo::tools::regtext

#endif
