// What every command says when it cannot write a hive: where the hive is
// kept and how to use another one.
#ifndef TAVOCOM_TOOLS_HIVE_ACCESS_H
#define TAVOCOM_TOOLS_HIVE_ACCESS_H

#include <cstdio>
#include <string>

#include "platform/registry.h"
#include "platform/tool_calls.h"

namespace tavo::tools {

/// The hint for a hive this process may not write; empty when it may.
/// `denied`: the write was refused as such, so the hint is due even where
/// the hive looked writable.
inline std::string HiveWriteHint(plat::RegKeyHandle hive, bool denied = false) {
    plat::RegHiveLocation where = plat::RegQueryHiveLocation(hive);
    if (where.writable && !denied) return std::string();
    const bool machine = hive == plat::kHKeyLocalMachine;
    if (!where.variable)
        return "the registry key " + where.place + " cannot be written by this user" +
               (where.privilege ? std::string("; writing under it needs ") + where.privilege : std::string());
    std::string name = machine ? "machine" : "user";
    std::string hint = "the " + name + " hive " + where.place + " cannot be written by this user; ";
    if (where.privilege && !where.moved) hint += std::string("run as ") + where.privilege + ", or ";
    hint += std::string("point ") + where.variable + " at a file you may write, e.g. " + where.variable +
            "=$HOME/tavocom/" + name + ".db";
    plat::RegHiveLocation other = plat::RegQueryHiveLocation(machine ? plat::kHKeyCurrentUser : plat::kHKeyLocalMachine);
    return other.variable ? hint + " (and " + other.variable + " the " + (machine ? "user" : "machine") + " hive)" : hint;
}

/// Prints the hint, if one is due, after a write below `hive` failed.
inline void ExplainHiveWrite(plat::RegKeyHandle hive, bool denied = false) {
    std::string hint = HiveWriteHint(hive, denied);
    if (hint.empty()) return;
    std::fflush(stdout); // after what the command printed so far
    std::fprintf(stderr, "tavocom: %s\n", hint.c_str());
}

/// After a command failed: names each hive whose file is damaged (not a
/// registry database), which every command only sees as a status.
inline void ExplainDamagedHives() {
    for (plat::RegKeyHandle hive : {plat::kHKeyLocalMachine, plat::kHKeyCurrentUser}) {
        plat::RegKey key;
        if (plat::RegOpenKeyExA(hive, "Software", plat::kKeyRead, key.Put()) != plat::kErrorRegistryCorrupt) continue;
        const plat::RegHiveLocation where = plat::RegQueryHiveLocation(hive);
        std::fflush(stdout);
        std::fprintf(stderr, "tavocom: the %s hive %s is damaged (not a registry database it can read)%s%s%s\n",
                     hive == plat::kHKeyLocalMachine ? "machine" : "user", where.place.c_str(),
                     where.variable ? "; move it aside to start an empty one, or point " : "",
                     where.variable ? where.variable : "", where.variable ? " at another file" : "");
    }
}

} // namespace tavo::tools

#endif
