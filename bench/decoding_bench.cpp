// Status decoding, each road next to its baseline in the same run: the
// composer against a bare table lookup with formatting and allocation, the
// decoder road against the registry read sequence of an activation, and
// (where the platform has one) the system road against its message call.
#include <benchmark/benchmark.h>
#include <decoder/decoder.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "registry_setup.h"
#include "decoding/compose.h"
#include "decoding/message_table.h"

namespace tavo::bench {
namespace {

using WString = std::basic_string<COM_WCHAR>;

// In the table, below facility 100, and without a system text.
constexpr uint32_t kTableCode = 0x80040301;
constexpr uint32_t kDecoderCode = 0x806F0005;
constexpr uint32_t kSystemCode = 0x80070005;

std::string Text(const _COM_GUID& id) {
    utlAutoBstr text;
    COM_CLSIDToString(id, text.Put());
    return std::string(text.Get(), text.Get() + text.Length());
}

// The status moniker and the sample decoder registered for the run.
void Fill(COM_IRegistry* r) {
    const std::string decoder = Text(CLSID_TavoDecoder);
    SetClassRootText(r, "Moniker\\hresult", COM_TEXT(""), Text(COM_CLSID_HResultDecoderBinder));
    SetClassRootText(r, "Moniker\\hresult", kTavoDecoderFacility, decoder);
    SetClassRootText(r, "CLSID\\" + decoder + "\\InprocServer32", COM_TEXT(""), "tavo_decoder" TAVOCOM_COMPONENT_SUFFIX);
}
void EnsureSetup() { EnsureRegistry<Fill>("BENCH-DECODING"); }

void DecodeLoop(benchmark::State& state, uint32_t code, COM_HRESULT expected) {
    for (auto _ : state) {
        COM_BSTR text = nullptr;
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(code), nullptr, &text);
        COM_SysFreeString(text);
        if (hr != expected) {
            state.SkipWithError("unexpected status");
            break;
        }
    }
}

// The composer on its own, with the result string handed out and freed.
void BM_Compose_TableCode(benchmark::State& state) {
    for (auto _ : state) {
        const WString text = decoding::ComposeStatusText(COM_HRESULT(kTableCode));
        COM_BSTR s = COM_SysAllocStringLen(text.data(), uint32_t(text.size()));
        benchmark::DoNotOptimize(s);
        COM_SysFreeString(s);
    }
}
BENCHMARK(BM_Compose_TableCode);

// The whole exported call for the same code: the system is asked first.
void BM_Decode_TableCode(benchmark::State& state) { DecodeLoop(state, kTableCode, S_FALSE); }
BENCHMARK(BM_Decode_TableCode);

// Baseline: binary search of the table, the suffix by the C library, one
// string.
void BM_Baseline_TableLookupFormat(benchmark::State& state) {
    for (auto _ : state) {
        const decoding::MessageRow* row =
            std::lower_bound(std::begin(decoding::kMessageTable), std::end(decoding::kMessageTable), kTableCode,
                             [](const decoding::MessageRow& r, uint32_t c) { return r.code < c; });
        WString text(row->text);
        char suffix[16];
        int n = std::snprintf(suffix, sizeof suffix, " [%8X]", kTableCode);
        text.append(suffix, suffix + n);
        COM_BSTR s = COM_SysAllocStringLen(text.data(), uint32_t(text.size()));
        benchmark::DoNotOptimize(s);
        COM_SysFreeString(s);
    }
}
BENCHMARK(BM_Baseline_TableLookupFormat);

// Parse, bind through two registry reads, activate the sample decoder, decode.
void BM_Decode_SampleDecoder(benchmark::State& state) {
    EnsureSetup();
    DecodeLoop(state, kDecoderCode, S_OK);
}
BENCHMARK(BM_Decode_SampleDecoder);

// Baseline: the registry object's read sequence of one activation.
void BM_Baseline_RegistryReadSequence(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    const WString clsid = Wide(Text(CLSID_TavoDecoder));
    for (auto _ : state) {
        utlAutoBstr text;
        bool ok = r->Open(COM_REGROOT_CLASSES, COM_KEY_CLSID) == S_OK && r->OpenKey(clsid.c_str()) == S_OK &&
                  r->OpenKey(COM_KEY_INPROCSERVER32) == S_OK && r->GetStringValue(COM_TEXT(""), text.Put()) == S_OK;
        r->Close();
        if (!ok) {
            state.SkipWithError("read sequence failed");
            break;
        }
    }
}
BENCHMARK(BM_Baseline_RegistryReadSequence);

// A code with a system text (on Linux, one of the runtime's own texts).
void BM_Decode_SystemText(benchmark::State& state) { DecodeLoop(state, kSystemCode, S_OK); }
BENCHMARK(BM_Decode_SystemText);

// Baseline of the system road (where the platform has a message table).
const bool g_systemBaseline = RegisterSystemMessageBaseline(kSystemCode);

} // namespace
} // namespace tavo::bench
