// Activation: of a class of this library against building the object
// directly, and of a registered component class through the registry and
// the loader against the platform's own activation (Windows only).
#include <benchmark/benchmark.h>
#include <greeter/greeter.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <objbase.h>
#endif

#include "memory/memory.h"

namespace {

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

// A registry of its own for the run, with the sample component registered.
struct Sandbox {
    std::string version = "BENCH-ACTIVATION";
    std::filesystem::path dir;
    Sandbox() {
#if !defined(_WIN32)
        dir = std::filesystem::temp_directory_path() / "tavocom-bench-activation";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        SetEnv("TAVOCOM_MACHINE_HIVE", (dir / "machine.db").c_str());
        SetEnv("TAVOCOM_USER_HIVE", (dir / "user.db").c_str());
#endif
        SetEnv("COM_VERSION", version.c_str());
        utlAutoIf<COM_IRegistry> r;
        COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid());
        r->Open(COM_REGROOT_CLASSES, nullptr);
        r->CreateKey(COM_TEXT("CLSID\\{D41060A0-F9F7-4CB0-953E-185845E6F0C5}\\InprocServer32"), 1);
        r->SetStringValue(COM_TEXT(""), COM_TEXT("greeter" TAVOCOM_COMPONENT_SUFFIX));
    }
    ~Sandbox() {
        utlAutoIf<COM_IRegistry> r;
        COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid());
        if (COM_SUCCEEDED(r->Open(COM_REGROOT_MACHINE, nullptr))) r->DeleteKey(COM_TEXT(""));
#if !defined(_WIN32)
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
#endif
    }
};

// A class of this library, created through the class object map.
void BM_CreateInstance_LibraryClass(benchmark::State& state) {
    for (auto _ : state) {
        COM_IMemory* memory = nullptr;
        COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, reinterpret_cast<void**>(&memory));
        benchmark::DoNotOptimize(memory);
        memory->Release();
    }
}
BENCHMARK(BM_CreateInstance_LibraryClass);

// Baseline: the same class built directly (its sources compiled into this
// program) and asked for its interface.
void BM_Baseline_DirectConstruction(benchmark::State& state) {
    for (auto _ : state) {
        auto* object = new tavo::memory::CMemory();
        object->AddRef();
        COM_IMemory* memory = nullptr;
        object->QueryInterface(COM_IID_IMemory, reinterpret_cast<void**>(&memory));
        object->Release();
        benchmark::DoNotOptimize(memory);
        memory->Release();
    }
}
BENCHMARK(BM_Baseline_DirectConstruction);

void BM_CreateInstance_RegisteredComponent(benchmark::State& state) {
    static Sandbox sandbox;
    for (auto _ : state) {
        IGreeter* greeter = nullptr;
        if (COM_FAILED(COM_CreateInstance(CLSID_Greeter, 0, IID_IGreeter, reinterpret_cast<void**>(&greeter)))) {
            state.SkipWithError("activation failed");
            break;
        }
        greeter->Release();
    }
}
BENCHMARK(BM_CreateInstance_RegisteredComponent);

#if defined(_WIN32)
// Baseline: the platform's own activation of an equivalent in-process class
// registered with the platform, in the same process.
void BM_Baseline_PlatformCoCreateInstance(benchmark::State& state) {
    static bool registered = [] {
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
            char message[64];
            std::snprintf(message, sizeof message, "platform activation failed: 0x%08lX", hr);
            state.SkipWithError(message);
            break;
        }
        object->Release();
    }
}
BENCHMARK(BM_Baseline_PlatformCoCreateInstance);
#endif

} // namespace
