// tavocom reg: shows and edits the registry (on Linux, the registry store)
// by absolute key paths, HKLM\... or HKCU\..., through the platform
// registry calls themselves rather than the product's roots.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/command.h"
#include "tools/reg_text_store.h"
#include "tools/hive_access.h"

namespace tavo::tools {

int RegFile(const Args& args); // cmd_reg_file.cpp

namespace {

using plat::RegKey;

struct KeyPath {
    plat::RegKeyHandle hive = nullptr;
    std::string hiveName;
    std::string path; // below the hive, may be empty
};

bool ParseKey(const std::string& text, KeyPath* key) {
    size_t slash = text.find('\\');
    std::string head = text.substr(0, slash);
    for (char& c : head) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE") {
        key->hive = plat::kHKeyLocalMachine;
        key->hiveName = "HKEY_LOCAL_MACHINE";
    } else if (head == "HKCU" || head == "HKEY_CURRENT_USER") {
        key->hive = plat::kHKeyCurrentUser;
        key->hiveName = "HKEY_CURRENT_USER";
    } else {
        std::fprintf(stderr, "reg: key must start with HKLM\\ or HKCU\\: %s\n", text.c_str());
        return false;
    }
    key->path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!key->path.empty() && key->path.back() == '\\') key->path.pop_back();
    return true;
}

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

std::string Show(uint32_t type, const std::vector<uint8_t>& data) {
    if ((type == 1 || type == 2) && !data.empty()) {
        std::string s(data.begin(), data.end());
        return s.substr(0, s.find('\0'));
    }
    if (type == 4 && data.size() == 4) {
        uint32_t v;
        std::memcpy(&v, data.data(), 4);
        return Hex32(v) + " (" + std::to_string(v) + ")";
    }
    std::string hex;
    char b[4];
    for (uint8_t c : data) {
        std::snprintf(b, sizeof b, "%02X", c);
        hex += b;
    }
    return hex;
}

/// Prints one key's values and, with `recurse`, its whole subtree;
/// without it, the names of its subkeys.
uint32_t QueryKey(plat::RegKeyHandle key, const std::string& shown, bool recurse) {
    uint32_t subkeys = 0, longestKey = 0, values = 0, longestValue = 0;
    uint32_t e = plat::RegQueryInfoKeyA(key, &subkeys, &longestKey, &values, &longestValue);
    if (e) return e;
    std::printf("%s\n", shown.c_str());
    std::vector<char> name(size_t(longestValue) + 2);
    for (uint32_t i = 0;; ++i) {
        uint32_t size = uint32_t(name.size()), type = 0, dataSize = 0;
        e = plat::RegEnumValueA(key, i, name.data(), &size, &type, nullptr, &dataSize);
        if (e == plat::kErrorNoMoreItems) break;
        if (e) return e;
        std::vector<uint8_t> data(dataSize);
        uint32_t got = dataSize;
        if ((e = plat::RegQueryValueExA(key, name.data(), &type, data.data(), &got))) return e;
        data.resize(got);
        std::printf("    %-20s %-10s %s\n", name[0] ? name.data() : "(Default)", TypeName(type), Show(type, data).c_str());
    }
    std::vector<char> child(size_t(longestKey) + 2);
    std::vector<std::string> children;
    for (uint32_t i = 0;; ++i) {
        uint32_t size = uint32_t(child.size());
        e = plat::RegEnumKeyExA(key, i, child.data(), &size);
        if (e == plat::kErrorNoMoreItems) break;
        if (e) return e;
        children.emplace_back(child.data(), size);
    }
    for (const std::string& c : children) {
        if (!recurse) {
            std::printf("%s\\%s\n", shown.c_str(), c.c_str());
            continue;
        }
        RegKey sub;
        if ((e = plat::RegOpenKeyExA(key, c.c_str(), plat::kKeyRead, sub.Put()))) return e;
        std::printf("\n");
        if ((e = QueryKey(sub.Get(), shown + "\\" + c, true))) return e;
    }
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
    const std::string& verb = args[0];
    KeyPath k;
    Options o;
    if (!ParseKey(args[1], &k) || !ParseOptions(args, 2, &o)) return 2;
    std::string shown = k.hiveName + (k.path.empty() ? "" : "\\" + k.path);

    if (verb == "query") {
        RegKey key;
        uint32_t e = plat::RegOpenKeyExA(k.hive, k.path.c_str(), plat::kKeyRead, key.Put());
        if (e) return Fail("open", e);
        if (o.hasValue) {
            uint32_t type = 0, size = 0;
            if ((e = plat::RegQueryValueExA(key.Get(), o.value.c_str(), &type, nullptr, &size))) return Fail("query", e);
            std::vector<uint8_t> data(size);
            if ((e = plat::RegQueryValueExA(key.Get(), o.value.c_str(), &type, data.data(), &size))) return Fail("query", e);
            std::printf("%s\n    %-20s %-10s %s\n", shown.c_str(), o.value.empty() ? "(Default)" : o.value.c_str(),
                        TypeName(type), Show(type, data).c_str());
            return 0;
        }
        e = QueryKey(key.Get(), shown, o.recurse);
        return e ? Fail("query", e) : 0;
    }
    if (verb == "add") {
        RegKey key;
        uint32_t e = plat::RegCreateKeyExA(k.hive, k.path.c_str(), plat::kKeyAllAccess, key.Put(), nullptr);
        if (e) return FailWrite("create", e, k.hive);
        if (!o.hasValue) return 0;
        if (o.type == "REG_SZ" || o.type == "reg_sz") {
            e = plat::RegSetValueExA(key.Get(), o.value.c_str(), plat::kRegSz,
                                     reinterpret_cast<const uint8_t*>(o.data.c_str()), uint32_t(o.data.size() + 1));
        } else if (o.type == "REG_DWORD" || o.type == "reg_dword") {
            char* end = nullptr;
            unsigned long v = std::strtoul(o.data.c_str(), &end, 0);
            if (o.data.empty() || *end || v > 0xFFFFFFFFul) {
                std::fprintf(stderr, "reg: REG_DWORD data must be a number: %s\n", o.data.c_str());
                return 2;
            }
            uint32_t n = uint32_t(v);
            uint8_t bytes[4];
            std::memcpy(bytes, &n, 4);
            e = plat::RegSetValueExA(key.Get(), o.value.c_str(), plat::kRegDword, bytes, 4);
        } else {
            std::fprintf(stderr, "reg: type must be REG_SZ or REG_DWORD: %s\n", o.type.c_str());
            return 2;
        }
        return e ? FailWrite("set value", e, k.hive) : 0;
    }
    if (verb == "delete") {
        if (o.hasValue) {
            RegKey key;
            uint32_t e = plat::RegOpenKeyExA(k.hive, k.path.c_str(), plat::kKeyAllAccess, key.Put());
            if (!e) e = plat::RegDeleteValueA(key.Get(), o.value.c_str());
            return e ? FailWrite("delete value", e, k.hive, true) : 0;
        }
        if (k.path.empty()) {
            std::fprintf(stderr, "reg: a hive itself cannot be deleted\n");
            return 2;
        }
        uint32_t e = regtext::DeleteTree(k.hive, k.path);
        return e ? FailWrite("delete key", e, k.hive, true) : 0;
    }
    std::fprintf(stderr, "reg: unknown operation %s (query, add, delete, export, import)\n", verb.c_str());
    return 2;
}

CommandRegistrar g_reg({"reg", "query|add|delete KEY [options] | export KEY FILE [/y] | import FILE",
                        "show and edit registry keys (HKLM\\..., HKCU\\...), export and import registry files", Reg,
                        "tavocom reg add \"HKCU\\Software\\Quorvalltech\\Demo\" /v Answer /t REG_DWORD /d 42\n"
                        "  tavocom reg export \"HKCU\\Software\\Quorvalltech\" backup.reg"});

// The registry service as a client uses it.
void DemoRegistry() {
    std::printf("\n-- registry --\n");
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_FAILED(hr)) {
        std::printf("cannot create the registry object: %s\n", StatusText(hr).c_str());
        return;
    }
    hr = registry->Open(COM_REGROOT_USER, nullptr);
    if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(COM_TEXT("Demo"), 1);
    if (COM_SUCCEEDED(hr)) hr = registry->SetStringValue(COM_TEXT("Greeting"), COM_TEXT("hello from the registry"));
    if (COM_SUCCEEDED(hr)) hr = registry->SetDWordValue(COM_TEXT("Answer"), 42);
    if (COM_FAILED(hr)) {
        std::printf("writing under the user root failed: %s\n", StatusText(hr).c_str());
        ExplainHiveWrite(plat::kHKeyCurrentUser, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
        return;
    }
    utlAutoBstr text;
    uint32_t answer = 0;
    registry->GetStringValue(COM_TEXT("Greeting"), text.Put());
    registry->GetDWordValue(COM_TEXT("Answer"), &answer);
    std::printf("user root\\Demo: Greeting = \"%s\", Answer = %u\n", Narrow(text.Get()).c_str(), answer);
    utlAutoIf<COM_IEnumBSTR> names;
    if (COM_SUCCEEDED(registry->EnumValues(names.Put()))) {
        uint32_t count = 0;
        names->GetCount(&count);
        std::printf("%u values:", count);
        COM_BSTR item = nullptr;
        uint32_t fetched = 0;
        while (names->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            std::printf(" %s", Narrow(item).c_str());
            COM_SysFreeString(item);
        }
        std::printf("\n");
    }
    registry->Open(COM_REGROOT_USER, nullptr);
    hr = registry->DeleteKey(COM_TEXT("Demo"));
    std::printf("removed the Demo key: %s\n", StatusText(hr).c_str());
}

DemoStepRegistrar g_demoRegistry(20, DemoRegistry);

} // namespace
} // namespace tavo::tools
