// Activation: of a class of this library against building the object
// directly, and of a registered component class through the registry and
// the loader against the platform's own activation (where there is one).
#include <benchmark/benchmark.h>
#include <greeter/greeter.h>

#include "baseline.h"
#include "memory/memory.h"

namespace {

// A registry of its own for the run, with the sample component registered.
struct Sandbox {
    Sandbox() {
        tavo::bench::PrepareRegistry("BENCH-ACTIVATION");
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
        tavo::bench::CleanUpRegistry();
    }
};

void EnsureSandbox() { static Sandbox sandbox; }

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
    EnsureSandbox();
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

// The floor of the registered activation beside the read sequence (in the
// registry benchmarks): the platform loading the already-loaded component
// again and looking up its two entry points.
void BM_Floor_LoadLoadedLibraryAndEntryPoints(benchmark::State& state) {
    EnsureSandbox();
    IGreeter* greeter = nullptr;
    if (COM_FAILED(COM_CreateInstance(CLSID_Greeter, 0, IID_IGreeter, reinterpret_cast<void**>(&greeter))) ||
        !tavo::bench::PrepareLoadFloor("greeter" TAVOCOM_COMPONENT_SUFFIX)) {
        state.SkipWithError("component not loaded");
        return;
    }
    greeter->Release();
    for (auto _ : state)
        if (!tavo::bench::LoadFloor()) {
            state.SkipWithError("load failed");
            break;
        }
}
BENCHMARK(BM_Floor_LoadLoadedLibraryAndEntryPoints);

// Baseline of the registered activation (on the platform that has one).
const bool g_platformBaseline = tavo::bench::RegisterPlatformActivationBaseline();

} // namespace
