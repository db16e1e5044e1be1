// The registry side of the reg commands: key paths as the tool takes them,
// the values and trees of keys read with the platform calls, write batches,
// and parsed registry files applied in one batch.
#ifndef TAVOCOM_TOOLS_REG_REG_TEXT_STORE_H
#define TAVOCOM_TOOLS_REG_REG_TEXT_STORE_H

#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "tools/reg/reg_text.h"

namespace tavo::tools::regtext {

/// 8-bit text of the platform's ANSI code page to UTF-16: the decoder of
/// 8-bit files and of command-line arguments.
utf::WideString FromAnsiCodePage(const char* text, size_t length);

/// A key path: HKLM\..., HKEY_CURRENT_USER\... (any case) and the rest.
struct HiveKey {
    plat::RegKeyHandle hive = nullptr;
    std::string hiveName; ///< HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    std::string below;    ///< without trailing separators; empty for the hive
    std::string Shown() const { return below.empty() ? hiveName : hiveName + "\\" + below; }
};
/// False for a path of any other root.
bool ParseHiveKey(const std::string& text, HiveKey* key);

/// A value as the platform's 8-bit calls give it.
struct RawValue {
    std::string name;
    uint32_t type = 0;
    std::string data;
};
/// Every value of `key`, in the order the registry lists them. 0 or the
/// Win32 error.
uint32_t ReadValues(plat::RegKeyHandle key, std::vector<RawValue>* values);

/// The key at `path` (UTF-8, HKLM\... or HKCU\..., long names too) and its
/// whole subtree, subkeys in the order the registry lists them. 0 or the
/// Win32 error.
uint32_t ReadTree(const std::string& path, Tree* tree);

/// One write batch on a hive (plat::BeginRegistryBatch) for the life of
/// this object: Commit keeps its changes, anything else drops them. Where
/// the batch cannot begin, the hive cannot be written either, and changes
/// made anyway fail as they would without a batch.
class WriteBatch {
public:
    explicit WriteBatch(plat::RegKeyHandle hive)
        : m_hive(hive), m_beginError(plat::BeginRegistryBatch(hive)), m_open(m_beginError == 0) {}
    ~WriteBatch() { Rollback(); }
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

    uint32_t BeginError() const { return m_beginError; }
    uint32_t Commit() { return std::exchange(m_open, false) ? plat::CommitRegistryBatch(m_hive) : 0; }
    /// True when that undid the batch's changes (false where the platform
    /// registry has no transactions).
    bool Rollback() { return std::exchange(m_open, false) && plat::RollbackRegistryBatch(m_hive); }

private:
    plat::RegKeyHandle m_hive;
    uint32_t m_beginError;
    bool m_open;
};

struct ApplyFailure {
    size_t line = 0;  ///< of the key line at which the import stopped (0: none)
    std::string what; ///< for a file that cannot be applied at all
    uint32_t error = 0;
    bool undone = false; ///< the batch was rolled back: nothing of the file stays
};

/// Writes `tree` into the registry in one write batch: keys are created,
/// `[-KEY]` trees and `=-` values deleted (missing ones are no fault). A
/// tree touches one hive; one with keys of both is refused before anything
/// is written. 0 or the Win32 error, with `failure` filled in.
uint32_t Apply(const Tree& tree, ApplyFailure* failure);

} // namespace tavo::tools::regtext

#endif
