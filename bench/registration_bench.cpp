// A register + unregister cycle of the runtime's classes next to bare
// platform writes of as many class keys, and the category enumerator next to
// the string enumerator over the same 1,000 keys, in the same run.
#include <benchmark/benchmark.h>
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

#include <string>

#include "registry_setup.h"

namespace tavo::bench {
namespace {

const std::string kVersion = "BENCH-REGISTRATION";
constexpr uint32_t kCategories = 1000;
constexpr uint32_t kBatch = 100;

// Another library's class keeps the class root through every cycle, as in
// an installed product; the categories are registered once.
void Fill(COM_IRegistry* r) {
    r->Open(COM_REGROOT_CLASSES, nullptr);
    r->CreateKey(COM_TEXT("CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}"), 0);
    utlAutoIf<COM_ICatRegister> manager;
    COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatRegister, manager.PutVoid());
    for (uint32_t i = 0; i < kCategories && manager; ++i) {
        _COM_GUID category = {0xCA700000 + i, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
        manager->RegisterCategory(category, COM_TEXT("A category of the benchmark"));
    }
}
void EnsureSetup() { EnsureRegistry<Fill>(kVersion); }

void BM_RegisterCycle_Runtime(benchmark::State& state) {
    EnsureSetup();
    for (auto _ : state)
        if (DllRegisterServer() != S_OK || DllUnregisterServer() != S_OK) state.SkipWithError("cycle failed");
}
BENCHMARK(BM_RegisterCycle_Runtime)->Unit(benchmark::kMicrosecond);

// Baseline: four keys, each with one string and one number, written with
// the bare platform calls (no removal).
void BM_RegisterCycle_BareWrites(benchmark::State& state) {
    EnsureSetup();
    static int serial = 0;
    for (auto _ : state)
        for (int i = 0; i < 4; ++i)
            if (!BareWriteSequence(kVersion, "bare" + std::to_string(serial++)))
                state.SkipWithError("bare write failed");
}
BENCHMARK(BM_RegisterCycle_BareWrites)->Unit(benchmark::kMicrosecond);

void BM_EnumCategories_PerItem(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_ICatInformation> info;
    COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatInformation, info.PutVoid());
    for (auto _ : state) {
        utlAutoIf<COM_IEnumCATEGORYINFO> e;
        if (!info || info->EnumCategories(e.Put()) != S_OK) {
            state.SkipWithError("EnumCategories failed");
            break;
        }
        uint32_t total = 0, given = 0;
        COM_CATEGORYINFO* records[kBatch];
        do {
            given = 0;
            if (COM_FAILED(e->Next(kBatch, records, &given))) break;
            for (uint32_t i = 0; i < given; ++i) COM_TaskMemFree(records[i]);
            total += given;
        } while (given == kBatch);
        if (total != kCategories) state.SkipWithError("not every category was enumerated");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCategories);
}
BENCHMARK(BM_EnumCategories_PerItem)->Unit(benchmark::kMillisecond);

// Baseline: the string enumerator over the same keys' names.
void BM_EnumKeyNames_PerItem(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    for (auto _ : state) {
        utlAutoIf<COM_IEnumBSTR> e;
        if (COM_FAILED(r->Open(COM_REGROOT_CLASSES, COM_TEXT("ComponentCategories"))) || r->EnumKeys(e.Put()) != S_OK) {
            state.SkipWithError("EnumKeys failed");
            break;
        }
        uint32_t total = 0, given = 0;
        COM_BSTR names[kBatch];
        do {
            given = 0;
            if (COM_FAILED(e->Next(kBatch, names, &given))) break;
            for (uint32_t i = 0; i < given; ++i) COM_SysFreeString(names[i]);
            total += given;
        } while (given == kBatch);
        if (total != kCategories) state.SkipWithError("not every name was enumerated");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCategories);
}
BENCHMARK(BM_EnumKeyNames_PerItem)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tavo::bench
