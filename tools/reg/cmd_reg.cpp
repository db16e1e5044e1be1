// tavocom reg: shows and edits the registry (on Linux, the registry store)
// by absolute key paths, HKLM\... or HKCU\..., through the platform
// registry calls themselves rather than the product's roots. Each add and
// delete is one write batch: it stands whole or not at all where the store
// has transactions.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/registry.h"
#include "registry/tree.h"
#include "tools/command.h"
#include "tools/hive_access.h"
#include "tools/reg/reg_text_store.h"
#include "tools/reg/reg_value_data.h"

namespace tavo::tools {
namespace {

using plat::RegKey;
using regtext::HiveKey;

int Fail(const char* what, uint32_t error) {
    std::fprintf(stderr, "reg: %s failed with error %u (status %s)\n", what, error,
                 StatusText(COM_STATUS_FROM_WIN32(error)).c_str());
    return 1;
}

/// A failed write also says where the hive is and how to use another,
/// unless it only found nothing to delete.
int FailWrite(const char* what, uint32_t error, plat::RegKeyHandle hive, bool deleting = false) {
    Fail(what, error);
    if (!deleting || error != plat::kErrorFileNotFound) ExplainHiveWrite(hive, error == plat::kErrorAccessDenied);
    return 1;
}

void PrintValue(const regtext::RawValue& v) {
    std::printf("    %-20s %-10s %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), regtext::TypeName(v.type),
                regtext::ShowValue(v.type, v.data).c_str());
}

/// One key's line and its values.
uint32_t PrintKey(plat::RegKeyHandle key, const std::string& shown) {
    std::vector<regtext::RawValue> values;
    if (uint32_t e = regtext::ReadValues(key, &values)) return e;
    std::printf("%s\n", shown.c_str());
    for (const regtext::RawValue& v : values) PrintValue(v);
    return 0;
}

/// The options of query (/s, /v, /ve), add (/v, /ve, /t, /d, /s, /f) and
/// delete (/v, /ve, /va, /f), in any case.
struct Options {
    bool recurse = false, hasValue = false, allValues = false, force = false;
    std::string value;
    regtext::ValueArguments data;
};

bool ParseOptions(const std::string& op, const Args& args, size_t from, Options* o) {
    const bool query = op == "query", add = op == "add", remove = op == "delete";
    auto fail = [](const char* what, const std::string& arg) {
        std::fprintf(stderr, "reg: %s%s\n", what, arg.c_str());
        return false;
    };
    for (size_t i = from; i < args.size(); ++i) {
        std::string a = args[i];
        for (char& c : a) c = char(std::tolower(static_cast<unsigned char>(c)));
        const bool more = i + 1 < args.size();
        if (a == "/s" && query) {
            o->recurse = true;
        } else if (a == "/f" && !query) {
            o->force = true;
        } else if (a == "/va" && remove) {
            o->allValues = true;
        } else if (a == "/ve" || (a == "/v" && more)) {
            if (o->hasValue) return fail("more than one of /v and /ve: ", args[i]);
            o->hasValue = true;
            o->value = a == "/v" ? args[++i] : std::string();
        } else if (a == "/t" && add && more) {
            o->data.type = args[++i];
        } else if (a == "/d" && add && more) {
            o->data.data = args[++i];
        } else if (a == "/s" && add && more) {
            if (args[i + 1].size() != 1) return fail("the /s separator must be one character: ", args[i + 1]);
            o->data.separator = args[++i][0];
        } else {
            return fail("unknown or incomplete option for this operation: ", args[i]);
        }
    }
    if (o->allValues && o->hasValue) return fail("/va deletes every value; it takes no /v or /ve", "");
    // Data or a type without a name is the default value's, as the platform tool takes it.
    if (add && !o->hasValue && (o->data.data || o->data.type != "REG_SZ")) o->hasValue = true;
    return true;
}

/// Asks on the terminal before a change that cannot be taken back
/// (`change`: "overwrite the value ..."); with /f it is made without
/// asking. Without a terminal to ask on, it is refused rather than waiting
/// for an answer that does not come.
bool Confirm(const Options& o, const std::string& change) {
    if (o.force) return true;
    if (!isatty(0)) {
        std::fprintf(stderr, "reg: not confirmed (standard input is not a terminal); nothing was changed: add /f to "
                             "%s\n", change.c_str());
        return false;
    }
    for (;;) {
        std::fprintf(stderr, "%c%s? (y/n) ", std::toupper(static_cast<unsigned char>(change[0])), change.c_str() + 1);
        std::fflush(stderr);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin)) break;
        const char answer = char(std::tolower(static_cast<unsigned char>(line[0])));
        if (answer == 'y') return true;
        if (answer == 'n') break;
    }
    std::fprintf(stderr, "reg: nothing was changed\n");
    return false;
}

/// A value as the questions name it.
std::string ValueName(const Options& o, const HiveKey& k) {
    return "the value " + (o.value.empty() ? std::string("(Default)") : "'" + o.value + "'") + " of " + k.Shown();
}

int Query(const HiveKey& k, const Options& o) {
    RegKey key;
    uint32_t e = plat::RegOpenKeyExA(k.hive, k.below.c_str(), plat::kKeyRead, key.Put());
    if (e) return Fail("open", e);
    if (o.hasValue) {
        regtext::RawValue v{o.value, 0, {}};
        uint32_t size = 0;
        if ((e = plat::RegQueryValueExA(key.Get(), v.name.c_str(), &v.type, nullptr, &size))) return Fail("query", e);
        v.data.resize(size);
        if ((e = plat::RegQueryValueExA(key.Get(), v.name.c_str(), &v.type, reinterpret_cast<uint8_t*>(v.data.data()),
                                        &size)))
            return Fail("query", e);
        std::printf("%s\n", k.Shown().c_str());
        PrintValue(v);
        return 0;
    }
    if (o.recurse) {
        // Each key below the first after a blank line, with its whole path.
        e = registry::WalkTree(key.Get(), [&](plat::RegKeyHandle at, const std::vector<std::string>& names) {
            std::string shown = k.Shown();
            for (const std::string& n : names) shown += "\\" + n;
            if (!names.empty()) std::printf("\n");
            return PrintKey(at, shown);
        });
        return e ? Fail("query", e) : 0;
    }
    std::vector<std::string> subkeys;
    if ((e = PrintKey(key.Get(), k.Shown())) || (e = registry::SubkeyNames(key.Get(), &subkeys))) return Fail("query", e);
    for (const std::string& name : subkeys) std::printf("%s\\%s\n", k.Shown().c_str(), name.c_str());
    return 0;
}

int Add(const HiveKey& k, const Options& o) {
    uint32_t type = 0;
    std::string data, error;
    if (o.hasValue && !regtext::EncodeValue(o.data, &type, &data, &error)) {
        std::fprintf(stderr, "reg: %s\n", error.c_str());
        return 2;
    }
    if (o.hasValue) {
        RegKey existing;
        if (!plat::RegOpenKeyExA(k.hive, k.below.c_str(), plat::kKeyRead, existing.Put()) &&
            !plat::RegQueryValueExA(existing.Get(), o.value.c_str(), nullptr, nullptr, nullptr) &&
            !Confirm(o, "overwrite " + ValueName(o, k)))
            return 1;
    }
    regtext::WriteBatch batch(k.hive);
    RegKey key;
    uint32_t e = plat::RegCreateKeyExA(k.hive, k.below.c_str(), plat::kKeyAllAccess, key.Put(), nullptr);
    if (e) return FailWrite("create", e, k.hive);
    if (o.hasValue && (e = plat::RegSetValueExA(key.Get(), o.value.c_str(), type,
                                                reinterpret_cast<const uint8_t*>(data.data()), uint32_t(data.size()))))
        return FailWrite("set value", e, k.hive);
    key.Reset();
    return (e = batch.Commit()) ? FailWrite("commit", e, k.hive) : 0;
}

int Delete(const HiveKey& k, const Options& o) {
    const bool values = o.hasValue || o.allValues;
    if (!values && k.below.empty()) {
        std::fprintf(stderr, "reg: a hive itself cannot be deleted\n");
        return 2;
    }
    // What is to go must be there before anyone is asked about it.
    RegKey key;
    uint32_t e = plat::RegOpenKeyExA(k.hive, k.below.c_str(), plat::kKeyRead, key.Put());
    if (!e && o.hasValue) e = plat::RegQueryValueExA(key.Get(), o.value.c_str(), nullptr, nullptr, nullptr);
    if (e) return Fail(o.hasValue ? "delete value" : "delete key", e);
    key.Reset();
    if (!Confirm(o, o.allValues  ? "delete every value of " + k.Shown()
                    : o.hasValue ? "delete " + ValueName(o, k)
                                 : "delete the key " + k.Shown() + " with everything below it"))
        return 1;
    regtext::WriteBatch batch(k.hive);
    if (values) {
        e = plat::RegOpenKeyExA(k.hive, k.below.c_str(), plat::kKeyAllAccess, key.Put());
        std::vector<regtext::RawValue> all{{o.value, 0, {}}};
        if (!e && o.allValues) e = regtext::ReadValues(key.Get(), &all);
        for (size_t i = 0; !e && i < all.size(); ++i) e = plat::RegDeleteValueA(key.Get(), all[i].name.c_str());
        if (e) return FailWrite("delete value", e, k.hive, true);
    } else if ((e = registry::DeleteTree(k.hive, k.below.c_str(), plat::kKeyAllAccess))) {
        return FailWrite("delete key", e, k.hive, true);
    }
    key.Reset();
    return (e = batch.Commit()) ? FailWrite("commit", e, k.hive) : 0;
}

} // namespace

int Reg(const Args& args) {
    if (!args.empty() && (args[0] == "export" || args[0] == "import")) return RegFile(args);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tavocom reg query KEY [/s] [/v NAME | /ve]\n"
                             "       tavocom reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
                             "       tavocom reg delete KEY [/v NAME | /ve | /va] [/f]\n"
                             "       tavocom reg export KEY FILE [/y]\n"
                             "       tavocom reg import FILE\n"
                             "KEY is HKLM\\path or HKCU\\path. TYPE is REG_SZ (default), REG_EXPAND_SZ,\n"
                             "REG_MULTI_SZ (strings split at SEPARATOR, default \\0), REG_DWORD, REG_QWORD,\n"
                             "REG_BINARY (hexadecimal digits) or REG_NONE. /f overwrites or deletes without asking.\n");
        return 2;
    }
    if (args[0] != "query" && args[0] != "add" && args[0] != "delete") {
        std::fprintf(stderr, "reg: unknown operation %s (query, add, delete, export, import)\n", args[0].c_str());
        return 2;
    }
    HiveKey k;
    Options o;
    if (!regtext::ParseHiveKey(args[1], &k)) {
        std::fprintf(stderr, "reg: key must start with HKLM\\ or HKCU\\: %s\n", args[1].c_str());
        return 2;
    }
    if (!ParseOptions(args[0], args, 2, &o)) return 2;
    if (args[0] == "query") return Query(k, o);
    if (args[0] == "add") return Add(k, o);
    return Delete(k, o);
}

} // namespace tavo::tools
