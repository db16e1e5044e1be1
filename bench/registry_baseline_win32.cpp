#include <windows.h>

#include <cstdlib>

#include "registry_baseline.h"

namespace tavo::bench {

void PrepareRegistry(const std::string& version) { SetEnvironmentVariableA("COM_VERSION", version.c_str()); }
void CleanUpRegistry() {}

// The calls the registry object makes for Open(classes, "CLSID"), two
// OpenKey, GetStringValue and Close.
std::string BareReadSequence(const std::string& version, const std::string& clsid) {
    std::string root = "Software\\Quorvalltech\\" + version + "\\Classes";
    HKEY r = nullptr, c = nullptr, k = nullptr, s = nullptr;
    std::string text;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &r, nullptr) == 0) {
        if (RegOpenKeyExA(r, "CLSID", 0, KEY_ALL_ACCESS, &c) == 0) {
            RegCloseKey(r);
            r = nullptr;
            if (RegOpenKeyExA(c, clsid.c_str(), 0, KEY_ALL_ACCESS, &k) == 0) {
                RegCloseKey(c);
                c = nullptr;
                if (RegOpenKeyExA(k, "InprocServer32", 0, KEY_ALL_ACCESS, &s) == 0) {
                    RegCloseKey(k);
                    k = nullptr;
                    DWORD size = 0;
                    if (RegQueryValueExA(s, "", nullptr, nullptr, nullptr, &size) == 0) {
                        text.resize(size + 1);
                        DWORD got = size + 1;
                        RegQueryValueExA(s, "", nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &got);
                        text.resize(got ? got - 1 : 0);
                    }
                    RegCloseKey(s);
                }
            }
        }
    }
    for (HKEY h : {r, c, k})
        if (h) RegCloseKey(h);
    return text;
}

bool BareWriteSequence(const std::string& version, const std::string& name) {
    std::string path = "Software\\Quorvalltech\\" + version + "\\Classes";
    HKEY root = nullptr, key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &root) != 0) return false;
    bool ok = RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0;
    if (ok) {
        DWORD n = 7;
        ok = RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 6) == 0 &&
             RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4) == 0;
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return ok;
}

} // namespace tavo::bench
