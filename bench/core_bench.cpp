// Identifier text conversion and string allocation through the library,
// each next to a baseline measured in the same run (baseline.h).
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <cstring>
#include <string>

#include "baseline.h"

namespace {

const _COM_GUID kId = {0x0A1B2C3D, 0x4E5F, 0x6A7B, {0x8C, 0x9D, 0xAE, 0xBF, 0xC0, 0xD1, 0xE2, 0xF3}};
const COM_WCHAR kText[] = COM_TEXT("a string of moderate length, about sixty characters long");

void BM_GuidRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        COM_BSTR text = nullptr;
        COM_CLSIDToString(kId, &text);
        _COM_GUID back;
        COM_StringToCLSID(text, &back);
        benchmark::DoNotOptimize(back);
        COM_SysFreeString(text);
    }
}
BENCHMARK(BM_GuidRoundTrip);

void BM_StringAllocFree(benchmark::State& state) {
    for (auto _ : state) {
        COM_BSTR s = COM_SysAllocString(kText);
        benchmark::DoNotOptimize(s);
        COM_SysFreeString(s);
    }
}
BENCHMARK(BM_StringAllocFree);

void BM_Baseline_GuidRoundTrip(benchmark::State& state) {
    for (auto _ : state) tavo::bench::BaselineGuidRoundTrip(kId);
}
void BM_Baseline_StringAllocFree(benchmark::State& state) {
    for (auto _ : state) tavo::bench::BaselineStringAllocFree(kText);
}
BENCHMARK(BM_Baseline_GuidRoundTrip);
BENCHMARK(BM_Baseline_StringAllocFree);

} // namespace
