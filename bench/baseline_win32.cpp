#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "baseline.h"

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

void BaselineGuidRoundTrip(const _COM_GUID& id) {
    LPOLESTR text = nullptr;
    StringFromCLSID(reinterpret_cast<const GUID&>(id), &text);
    CLSID back;
    CLSIDFromString(text, &back);
    benchmark::DoNotOptimize(back);
    CoTaskMemFree(text);
}

void BaselineStringAllocFree(const COM_WCHAR* text) {
    BSTR s = SysAllocString(text);
    benchmark::DoNotOptimize(s);
    SysFreeString(s);
}

namespace {

// The platform's own activation of an in-process class equivalent to the
// sample component, registered with the platform, in the same process: the
// baseline of activation through the registry.
void BM_Baseline_PlatformCoCreateInstance(benchmark::State& state) {
    static const bool registered = [] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path);
        dll = dll.substr(0, dll.rfind(L'\\') + 1) + L"bench_platform_greeter.dll";
        HKEY key;
        const wchar_t* sub = L"CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32";
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
            return false;
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                       DWORD((dll.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), 10);
        RegCloseKey(key);
        return true;
    }();
    const CLSID clsid = {0xD41060A0, 0xF9F7, 0x4CB0, {0x95, 0x3E, 0x18, 0x58, 0x45, 0xE6, 0xF0, 0xC5}};
    for (auto _ : state) {
        IUnknown* object = nullptr;
        HRESULT hr = registered ? CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                   reinterpret_cast<void**>(&object))
                                : E_FAIL;
        if (FAILED(hr)) {
            state.SkipWithError("platform activation failed");
            break;
        }
        object->Release();
    }
}
} // namespace

namespace {
std::wstring g_loadFloorPath;
}

bool PrepareLoadFloor(const std::string& file) {
    HMODULE runtime = GetModuleHandleW(L"TAVOCOM64.dll");
    wchar_t path[MAX_PATH];
    DWORD n = runtime ? GetModuleFileNameW(runtime, path, MAX_PATH) : 0;
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring directory(path, n);
    size_t slash = directory.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    g_loadFloorPath = directory.substr(0, slash + 1) + std::wstring(file.begin(), file.end());
    return true;
}

bool LoadFloor() {
    HMODULE library = LoadLibraryW(g_loadFloorPath.c_str());
    if (!library) return false;
    bool ok = GetProcAddress(library, "GetClassObject") && GetProcAddress(library, "CanUnloadNow");
    FreeLibrary(library);
    return ok;
}

// Up to 10,000: making 100,000 keys and as many values through the platform's
// calls takes Wine's server most of the program's minute, and measures its
// registry, not ours.
bool FillNames(const std::string& version, const std::string& path, int count) {
    if (count > 10000) return false;
    const std::string full = "Software\\Quorvalltech\\" + version + "\\" + path;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
        return false;
    // In the order the registry keeps them, so that each new name goes at
    // the end of its key's sorted lists.
    std::vector<std::pair<std::string, int>> names;
    for (int i = 0; i < count; ++i) names.emplace_back("name" + std::to_string(i), i);
    std::sort(names.begin(), names.end());
    bool ok = true;
    for (const auto& [name, i] : names) {
        if (!ok) break;
        HKEY sub;
        ok = RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) == 0;
        if (ok) RegCloseKey(sub);
        const DWORD data = DWORD(i);
        ok = ok && RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4) == 0;
    }
    RegCloseKey(key);
    return ok;
}

// The platform's registry is not ours to read around its calls.
int64_t BareWalkNames(const std::string&, const std::string&, bool) { return -1; }

bool RegisterPlatformActivationBaseline() {
    benchmark::RegisterBenchmark("BM_Baseline_PlatformCoCreateInstance", BM_Baseline_PlatformCoCreateInstance);
    return true;
}

} // namespace tavo::bench

namespace tavo::bench {

// The platform's message call, and the same call with the text copied into
// a new length-prefixed string as the caller of the runtime receives it.
bool RegisterSystemMessageBaseline(uint32_t code) {
    for (bool copy : {false, true}) {
        benchmark::RegisterBenchmark(copy ? "BM_Baseline_FormatMessageW_CopyToBSTR" : "BM_Baseline_FormatMessageW",
                                     [code, copy](benchmark::State& state) {
            for (auto _ : state) {
                wchar_t* buffer = nullptr;
                DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                             FORMAT_MESSAGE_FROM_SYSTEM,
                                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
                benchmark::DoNotOptimize(buffer);
                if (copy && n != 0) SysFreeString(SysAllocStringLen(buffer, n));
                if (buffer) LocalFree(buffer);
                if (n == 0) {
                    state.SkipWithError("no system text");
                    break;
                }
            }
        });
    }
    return true;
}

} // namespace tavo::bench
