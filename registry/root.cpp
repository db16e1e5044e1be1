// The product's registry roots: the version key and Open.
#include <new>

#include "core/ansi.h"
#include "core/raise.h"
#include "registry/registry.h"
#include "registry/root_path.h"

namespace tavo::registry {
namespace {

// The environment read: 65,535 bytes with the terminator at most.
constexpr uint32_t kVersionReadSize = 65535;
// A COM_VERSION that does not fit is refused rather than cut short:
// "the file name is too long".
constexpr uint32_t kErrorNameTooLong = 206;

} // namespace

bool ResolveVersionKey(core::ShortText* key) {
    // A short value is read on the stack; only a longer one gets a buffer of
    // the size the platform reports (at most the 65,535 bytes of the read).
    char small[256];
    uint32_t n = plat::GetEnvironmentVariableA(kVersionVariable, small, sizeof small);
    key->Append(kMakerKey, sizeof kMakerKey - 1);
    if (n == 0) {
        key->Append(kDefaultVersion, sizeof kDefaultVersion - 1);
        return true;
    }
    if (n < sizeof small) {
        key->Append(small, n);
        return true;
    }
    if (n > kVersionReadSize) return false;
    std::string buffer(n, '\0');
    uint32_t got = plat::GetEnvironmentVariableA(kVersionVariable, buffer.data(), n);
    if (got == 0 || got >= n) return false; // changed meanwhile
    key->Append(buffer.c_str());
    return true;
}

bool RootHive(uint32_t root, plat::RegKeyHandle* hive, const char** suffix) noexcept {
    *suffix = "";
    switch (root) {
    case COM_REGROOT_CLASSES:
        *hive = plat::kHKeyLocalMachine;
        *suffix = kClassesKey;
        return true;
    case COM_REGROOT_USER: *hive = plat::kHKeyCurrentUser; return true;
    case COM_REGROOT_MACHINE: *hive = plat::kHKeyLocalMachine; return true;
    case COM_REGROOT_USER_VENDOR: *hive = plat::kHKeyCurrentUser; return true;
    case COM_REGROOT_APPDATA:
        *hive = plat::kHKeyLocalMachine;
        *suffix = kApplicationDataKey;
        return true;
    default: return false;
    }
}

COM_HRESULT CRegistry::Open(uint32_t root, const COM_WCHAR* subkey) {
    return core::Guarded([&]() -> COM_HRESULT {
        plat::RegKeyHandle hive = nullptr;
        const char* suffix = "";
        if (!RootHive(root, &hive, &suffix)) return E_INVALIDARG;
        // Root, and root with the subkey, built on the stack when short.
        core::ShortText path;
        if (root == COM_REGROOT_USER_VENDOR) {
            path.Append(kMakerKey, sizeof kMakerKey - 1);
        } else {
            if (!ResolveVersionKey(&path)) return COM_STATUS_FROM_WIN32(kErrorNameTooLong);
            path.Append(suffix);
        }
        core::ShortText sub;
        if (subkey && !core::ToAnsi(subkey, &sub)) return E_INVALIDARG;

        m_current.Reset();
        m_access = plat::kKeyAllAccess;
        // Where root and subkey both exist, one open of the whole path ends
        // in the same state as opening the root and then the subkey, for a
        // third of the platform calls.
        if (!sub.empty() && sub.c_str()[0] != '\\') {
            const size_t rootSize = path.size();
            path.Append("\\", 1);
            path.Append(sub.c_str(), sub.size());
            plat::RegKey key;
            if (plat::RegOpenKeyExA(hive, path.c_str(), m_access, key.Put()) == 0) {
                m_current = std::move(key);
                return S_OK;
            }
            path.Truncate(rootSize);
        }
        plat::RegKey rootKey;
        // Create-or-open, tried as open first: the root nearly always exists,
        // and on the platform registry opening a path costs a fraction of
        // creating it.
        uint32_t e = plat::RegOpenKeyExA(hive, path.c_str(), m_access, rootKey.Put());
        if (e != 0) e = plat::RegCreateKeyExA(hive, path.c_str(), m_access, rootKey.Put(), nullptr);
        if (e != 0) {
            // Without the right to create or write, the root is still read.
            m_access = plat::kKeyRead;
            e = plat::RegOpenKeyExA(hive, path.c_str(), m_access, rootKey.Put());
            if (e != 0) return StatusFromPlatform(e);
        }
        if (sub.empty()) {
            m_current = std::move(rootKey);
            return S_OK;
        }
        plat::RegKey key;
        e = plat::RegOpenKeyExA(rootKey.Get(), sub.c_str(), m_access, key.Put());
        rootKey.Reset();
        if (e != 0) return StatusFromPlatform(e);
        m_current = std::move(key);
        return S_OK;
    });
}

} // namespace tavo::registry
