// The class root of a sandbox as the platform registry holds it: keys,
// value names, types and bytes, read (and, for bad input, written) with the
// platform calls themselves rather than through the registry service.
#ifndef TAVOCOM_TESTS_CLASS_ROOT_VIEW_H
#define TAVOCOM_TESTS_CLASS_ROOT_VIEW_H

#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {

class ClassRootView {
public:
    struct Value {
        uint32_t type;
        std::string data; // raw bytes, terminator included
        std::string Text() const { return std::string(data.c_str()); }
    };

    explicit ClassRootView(const RegistrySandbox& sandbox)
        : m_root("Software\\Quorvalltech\\" + sandbox.Version() + "\\Classes") {}

    /// Path of `key` below HKEY_LOCAL_MACHINE.
    std::string Full(const std::string& key) const { return key.empty() ? m_root : m_root + "\\" + key; }

    bool Exists(const std::string& key = "") const {
        plat::RegKey k;
        return plat::RegOpenKeyExA(plat::kHKeyLocalMachine, Full(key).c_str(), plat::kKeyRead, k.Put()) == 0;
    }

    std::optional<Value> Read(const std::string& key, const char* name = "") const {
        plat::RegKey k;
        if (plat::RegOpenKeyExA(plat::kHKeyLocalMachine, Full(key).c_str(), plat::kKeyRead, k.Put()) != 0)
            return std::nullopt;
        uint32_t type = 0, size = 0;
        if (plat::RegQueryValueExA(k.Get(), name, &type, nullptr, &size) != 0) return std::nullopt;
        std::string data(size, '\0');
        if (plat::RegQueryValueExA(k.Get(), name, &type, reinterpret_cast<uint8_t*>(data.data()), &size) != 0)
            return std::nullopt;
        data.resize(size);
        return Value{type, data};
    }

    /// Subkey names (`values` false) or value names of `key`.
    std::vector<std::string> Names(const std::string& key, bool values = false) const {
        std::vector<std::string> names;
        plat::RegKey k;
        if (plat::RegOpenKeyExA(plat::kHKeyLocalMachine, Full(key).c_str(), plat::kKeyRead, k.Put()) != 0)
            return names;
        for (uint32_t i = 0;; ++i) {
            char name[512];
            uint32_t size = sizeof name;
            uint32_t e = values ? plat::RegEnumValueA(k.Get(), i, name, &size, nullptr, nullptr, nullptr)
                                : plat::RegEnumKeyExA(k.Get(), i, name, &size);
            if (e != 0) break;
            names.emplace_back(name, size);
        }
        return names;
    }

    void Write(const std::string& key, const char* name, uint32_t type, const std::string& data) const {
        plat::RegKey k;
        ASSERT_EQ(plat::RegCreateKeyExA(plat::kHKeyLocalMachine, Full(key).c_str(), plat::kKeyAllAccess, k.Put(),
                                        nullptr),
                  0u);
        ASSERT_EQ(plat::RegSetValueExA(k.Get(), name, type, reinterpret_cast<const uint8_t*>(data.data()),
                                       uint32_t(data.size())),
                  0u);
    }

    void DeleteValue(const std::string& key, const char* name) const {
        plat::RegKey k;
        ASSERT_EQ(plat::RegOpenKeyExA(plat::kHKeyLocalMachine, Full(key).c_str(), plat::kKeyAllAccess, k.Put()), 0u);
        ASSERT_EQ(plat::RegDeleteValueA(k.Get(), name), 0u);
    }

    /// Deletes a key that has no subkeys.
    void DeleteLeafKey(const std::string& key) const {
        ASSERT_EQ(plat::RegDeleteKeyA(plat::kHKeyLocalMachine, Full(key).c_str()), 0u);
    }

private:
    std::string m_root;
};

/// A REG_SZ value's bytes: the text and its terminator.
inline std::string SzBytes(const std::string& text) { return text + '\0'; }
/// A REG_DWORD value's bytes.
inline std::string DwordBytes(uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

/// The runtime's own classes and the ProgIDs its self-registration writes.
struct LibraryClass {
    const _COM_GUID* clsid;
    const char* progid;
};
inline const LibraryClass kLibraryClasses[] = {
    {&COM_CLSID_Registry, "TelvaCOM.Registry"},
    {&COM_CLSID_CategoryManager, "TelvaCategoryManager"},
    {&COM_CLSID_Memory, "TelvaCom.Memory"},
    {&COM_CLSID_HResultDecoderBinder, "TelvaCOM.Decoder"},
};

} // namespace tavo::test

#endif
