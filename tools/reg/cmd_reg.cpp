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
#include <vector>

#include "platform/registry.h"
#include "registry/tree.h"
#include "tools/command.h"
#include "tools/hive_access.h"
#include "tools/reg/reg_text_store.h"

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

const char* TypeName(uint32_t type) {
    switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 7: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return "REG_?";
    }
}

std::string Show(uint32_t type, const std::string& data) {
    if ((type == 1 || type == 2) && !data.empty()) return data.substr(0, data.find('\0'));
    if (type == 4 && data.size() == 4) {
        uint32_t v;
        std::memcpy(&v, data.data(), 4);
        return Hex32(v) + " (" + std::to_string(v) + ")";
    }
    std::string hex;
    char b[4];
    for (char c : data) {
        std::snprintf(b, sizeof b, "%02X", unsigned(uint8_t(c)));
        hex += b;
    }
    return hex;
}

void PrintValue(const regtext::RawValue& v) {
    std::printf("    %-20s %-10s %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), TypeName(v.type),
                Show(v.type, v.data).c_str());
}

/// One key's line and its values.
uint32_t PrintKey(plat::RegKeyHandle key, const std::string& shown) {
    std::vector<regtext::RawValue> values;
    if (uint32_t e = regtext::ReadValues(key, &values)) return e;
    std::printf("%s\n", shown.c_str());
    for (const regtext::RawValue& v : values) PrintValue(v);
    return 0;
}

/// Options of the form /v NAME, /t TYPE, /d DATA, /s.
struct Options {
    bool recurse = false;
    bool hasValue = false;
    std::string value, type = "REG_SZ", data;
};

bool ParseOptions(const Args& args, size_t from, Options* o) {
    for (size_t i = from; i < args.size(); ++i) {
        std::string a = args[i];
        for (char& c : a) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (a == "/s") {
            o->recurse = true;
        } else if (a == "/ve") {
            o->hasValue = true;
            o->value.clear();
        } else if ((a == "/v" || a == "/t" || a == "/d") && i + 1 < args.size()) {
            std::string& slot = a == "/v" ? o->value : a == "/t" ? o->type : o->data;
            slot = args[++i];
            if (a == "/v") o->hasValue = true;
        } else {
            std::fprintf(stderr, "reg: unknown or incomplete option %s\n", args[i].c_str());
            return false;
        }
    }
    return true;
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

/// The value of `reg add` as it is stored; false, with a message, for data
/// that does not fit its type.
bool ValueData(const Options& o, uint32_t* type, std::string* bytes) {
    if (o.type == "REG_SZ" || o.type == "reg_sz") {
        *type = plat::kRegSz;
        bytes->assign(o.data.c_str(), o.data.size() + 1);
        return true;
    }
    if (o.type == "REG_DWORD" || o.type == "reg_dword") {
        char* end = nullptr;
        unsigned long v = std::strtoul(o.data.c_str(), &end, 0);
        if (o.data.empty() || *end || v > 0xFFFFFFFFul) {
            std::fprintf(stderr, "reg: REG_DWORD data must be a number: %s\n", o.data.c_str());
            return false;
        }
        const uint32_t n = uint32_t(v);
        *type = plat::kRegDword;
        bytes->assign(reinterpret_cast<const char*>(&n), 4);
        return true;
    }
    std::fprintf(stderr, "reg: type must be REG_SZ or REG_DWORD: %s\n", o.type.c_str());
    return false;
}

int Add(const HiveKey& k, const Options& o) {
    uint32_t type = 0;
    std::string data;
    if (o.hasValue && !ValueData(o, &type, &data)) return 2;
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
    if (!o.hasValue && k.below.empty()) {
        std::fprintf(stderr, "reg: a hive itself cannot be deleted\n");
        return 2;
    }
    regtext::WriteBatch batch(k.hive);
    uint32_t e = 0;
    if (o.hasValue) {
        RegKey key;
        e = plat::RegOpenKeyExA(k.hive, k.below.c_str(), plat::kKeyAllAccess, key.Put());
        if (!e) e = plat::RegDeleteValueA(key.Get(), o.value.c_str());
        if (e) return FailWrite("delete value", e, k.hive, true);
    } else if ((e = registry::DeleteTree(k.hive, k.below.c_str(), plat::kKeyAllAccess))) {
        return FailWrite("delete key", e, k.hive, true);
    }
    return (e = batch.Commit()) ? FailWrite("commit", e, k.hive) : 0;
}

} // namespace

int Reg(const Args& args) {
    if (!args.empty() && (args[0] == "export" || args[0] == "import")) return RegFile(args);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tavocom reg query KEY [/s]\n"
                             "       tavocom reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA]\n"
                             "       tavocom reg delete KEY [/v NAME | /ve]\n"
                             "       tavocom reg export KEY FILE [/y]\n"
                             "       tavocom reg import FILE\n"
                             "KEY is HKLM\\path or HKCU\\path.\n");
        return 2;
    }
    HiveKey k;
    Options o;
    if (!regtext::ParseHiveKey(args[1], &k)) {
        std::fprintf(stderr, "reg: key must start with HKLM\\ or HKCU\\: %s\n", args[1].c_str());
        return 2;
    }
    if (!ParseOptions(args, 2, &o)) return 2;
    if (args[0] == "query") return Query(k, o);
    if (args[0] == "add") return Add(k, o);
    if (args[0] == "delete") return Delete(k, o);
    std::fprintf(stderr, "reg: unknown operation %s (query, add, delete, export, import)\n", args[0].c_str());
    return 2;
}

} // namespace tavo::tools
