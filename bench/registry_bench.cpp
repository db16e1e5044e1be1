// The registry object's read sequence (what class activation does for a
// registered class) and a write sequence, each next to the same work done
// with the bare platform calls in the same run.
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <string>

#include "baseline.h"

namespace tavo::bench {
namespace {

const std::string kVersion = "BENCH-REGISTRY";
const char kClsid[] = "{54372A74-5BBB-4C7D-9C81-94CF89CDF3F8}";

std::basic_string<COM_WCHAR> Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

utlAutoIf<COM_IRegistry> NewRegistry() {
    utlAutoIf<COM_IRegistry> r;
    COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid());
    return r;
}

// Builds the class entry once; removes the whole version key at exit.
struct Setup {
    Setup() {
        PrepareRegistry(kVersion);
        utlAutoIf<COM_IRegistry> r = NewRegistry();
        r->Open(COM_REGROOT_CLASSES, nullptr);
        r->CreateKey(Wide(std::string("CLSID\\") + kClsid + "\\InprocServer32").c_str(), 1);
        r->SetStringValue(COM_TEXT(""), COM_TEXT("TAVOCOM64.dll"));
        r->Open(COM_REGROOT_CLASSES, nullptr);
        r->CreateKey(COM_TEXT("Writes"), 0);
    }
    ~Setup() {
        utlAutoIf<COM_IRegistry> r = NewRegistry();
        if (r && COM_SUCCEEDED(r->Open(COM_REGROOT_MACHINE, nullptr))) r->DeleteKey(COM_TEXT(""));
        r.Reset(nullptr);
        CleanUpRegistry();
    }
};

void EnsureSetup() { static Setup setup; }

void BM_ReadSequence_Registry(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    const auto clsid = Wide(kClsid);
    for (auto _ : state) {
        utlAutoBstr text;
        bool ok = r->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")) == S_OK && r->OpenKey(clsid.c_str()) == S_OK &&
                  r->OpenKey(COM_TEXT("InprocServer32")) == S_OK && r->GetStringValue(COM_TEXT(""), text.Put()) == S_OK;
        r->Close();
        if (!ok || text.Length() != 13) state.SkipWithError("read sequence failed");
    }
}
BENCHMARK(BM_ReadSequence_Registry);

void BM_ReadSequence_Bare(benchmark::State& state) {
    EnsureSetup();
    for (auto _ : state) {
        std::string text = BareReadSequence(kVersion, kClsid);
        if (text.compare(0, 13, "TAVOCOM64.dll") != 0) state.SkipWithError("bare read sequence failed");
    }
}
BENCHMARK(BM_ReadSequence_Bare);

void BM_WriteSequence_Registry(benchmark::State& state) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    static int serial = 0;
    for (auto _ : state) {
        std::string name = "Writes\\r" + std::to_string(serial++);
        bool ok = r->Open(COM_REGROOT_CLASSES, nullptr) == S_OK && r->CreateKey(Wide(name).c_str(), 1) == S_OK &&
                  r->SetStringValue(COM_TEXT("Text"), COM_TEXT("value")) == S_OK &&
                  r->SetDWordValue(COM_TEXT("Number"), 7) == S_OK;
        if (!ok) state.SkipWithError("write sequence failed");
    }
}
BENCHMARK(BM_WriteSequence_Registry);

void BM_WriteSequence_Bare(benchmark::State& state) {
    EnsureSetup();
    static int serial = 0;
    for (auto _ : state)
        if (!BareWriteSequence(kVersion, "b" + std::to_string(serial++))) state.SkipWithError("bare write failed");
}
BENCHMARK(BM_WriteSequence_Bare);

} // namespace
} // namespace tavo::bench
