// The calls of the platform layer that only the tavocom tool makes: where a
// hive is kept and moving it, and the loader's own words for a failed load.
// The runtime's logic never needs them, so they stay out of its contract.
#ifndef TAVOCOM_PLATFORM_TOOL_CALLS_H
#define TAVOCOM_PLATFORM_TOOL_CALLS_H

#include <string>

#include "platform/registry.h"

namespace tavo::plat {

/// Where a predefined hive is kept, as a tool tells its user.
struct RegHiveLocation {
    std::string place;     // the hive's file, or where it cannot move, its key name
    const char* variable;  // the environment variable that moves the hive; null: it cannot move
    bool moved;            // that variable is set for this process
    bool writable;         // this process may write the hive, as far as can be told without writing
    const char* privilege; // who may write it in its usual place ("root", "an administrator"), or null
};
RegHiveLocation RegQueryHiveLocation(RegKeyHandle hive);
/// Moves a hive to `file` for this process from its next use on (null:
/// back to its usual place). 0, or kErrorNotSupported where hives cannot
/// move.
uint32_t RegMoveHive(RegKeyHandle hive, const char* file);

/// The loader's own words, in UTF-8 and without a final line break, for why
/// the last LoadLibraryW of this thread returned null; empty when it gives
/// none. Asked right after the failed load (any later call may replace it).
/// `path`, the file that failed, fills the system text's inserts (%1).
std::string LastLoadErrorText(const COM_WCHAR* path = nullptr);

} // namespace tavo::plat

#endif
