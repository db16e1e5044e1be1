// Identifier text conversion and string allocation through the library,
// each next to a baseline measured in the same run: the platform's own call
// on Windows, plain standard-library work on Linux.
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#endif

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

#if defined(_WIN32)
// The platform's own calls for the same work.
void BM_Baseline_GuidRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        LPOLESTR text = nullptr;
        StringFromCLSID(reinterpret_cast<const GUID&>(kId), &text);
        CLSID back;
        CLSIDFromString(text, &back);
        benchmark::DoNotOptimize(back);
        CoTaskMemFree(text);
    }
}
void BM_Baseline_StringAllocFree(benchmark::State& state) {
    for (auto _ : state) {
        BSTR s = SysAllocString(kText);
        benchmark::DoNotOptimize(s);
        SysFreeString(s);
    }
}
#else
// No platform call exists here: the baseline is the same text work done
// with the standard library.
void BM_Baseline_GuidRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        char text[40];
        std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", kId.Data1, kId.Data2,
                      kId.Data3, kId.Data4[0], kId.Data4[1], kId.Data4[2], kId.Data4[3], kId.Data4[4], kId.Data4[5],
                      kId.Data4[6], kId.Data4[7]);
        unsigned d1, d2, d3, b[8];
        std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5], &b[6], &b[7]);
        benchmark::DoNotOptimize(d1);
    }
}
void BM_Baseline_StringAllocFree(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s(kText);
        benchmark::DoNotOptimize(s.data());
    }
}
#endif
BENCHMARK(BM_Baseline_GuidRoundTrip);
BENCHMARK(BM_Baseline_StringAllocFree);

} // namespace
