// Enumeration of a key's subkeys and values through the registry object,
// at 1,000, 10,000 and 100,000 names, as the time per name: a walk that
// stays linear costs the same per name at every size. Next to it, the floor
// of the same walk: one statement over the same rows (Linux).
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <chrono>
#include <string>

#include "registry_setup.h"

namespace tavo::bench {
namespace {

const std::string kVersion = "BENCH-REGISTRY-ENUM";
constexpr int kSizes[] = {1000, 10000, 100000};

std::string KeyOf(int64_t size) { return "Enum\\" + std::to_string(size); }

// For each size, a key with that many subkeys and as many values. The
// version key is made through the registry object first, so that the
// hive and its tables exist.
void Fill(COM_IRegistry* r) {
    r->Open(COM_REGROOT_MACHINE, nullptr);
    for (int size : kSizes) FillNames(kVersion, KeyOf(size), size);
}
void EnsureSetup() { EnsureRegistry<Fill>(kVersion); }

/// Runs `walk` (which returns how many names it read) once per iteration
/// and reports the time per name.
template <class Walk>
void PerName(benchmark::State& state, Walk walk) {
    const int64_t size = state.range(0);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int64_t n = walk();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (n != size) {
            state.SkipWithError(n < 0 ? "no floor on this platform" : "wrong number of names");
            break;
        }
        state.SetIterationTime(took.count() / double(size));
    }
}

void EnumerateNames(benchmark::State& state, bool values) {
    EnsureSetup();
    utlAutoIf<COM_IRegistry> r = NewRegistry();
    const int64_t size = state.range(0);
    if (r->Open(COM_REGROOT_MACHINE, Wide(KeyOf(size)).c_str()) != S_OK) {
        state.SkipWithError("no key to enumerate (not made at this size here)");
        return;
    }
    PerName(state, [&]() -> int64_t {
        utlAutoIf<COM_IEnumBSTR> e;
        if ((values ? r->EnumValues(e.Put()) : r->EnumKeys(e.Put())) != S_OK) return -2;
        uint32_t count = 0;
        e->GetCount(&count);
        COM_BSTR first = nullptr;
        uint32_t fetched = 0;
        e->Next(1, &first, &fetched);
        COM_SysFreeString(first);
        return count;
    });
}

void BM_EnumKeys(benchmark::State& state) { EnumerateNames(state, false); }
void BM_EnumValues(benchmark::State& state) { EnumerateNames(state, true); }

void Floor(benchmark::State& state, bool values) {
    EnsureSetup();
    const std::string key = KeyOf(state.range(0));
    PerName(state, [&] { return BareWalkNames(kVersion, key, values); });
}
void BM_EnumKeys_Floor(benchmark::State& state) { Floor(state, false); }
void BM_EnumValues_Floor(benchmark::State& state) { Floor(state, true); }

// Every size walks 300,000 names in all: the same work behind each figure.
#define SIZES(b)                                                                                                    \
    BENCHMARK(b)->Arg(kSizes[0])->Iterations(300)->UseManualTime();                                                 \
    BENCHMARK(b)->Arg(kSizes[1])->Iterations(30)->UseManualTime();                                                  \
    BENCHMARK(b)->Arg(kSizes[2])->Iterations(3)->UseManualTime()
SIZES(BM_EnumKeys);
SIZES(BM_EnumValues);
SIZES(BM_EnumKeys_Floor);
SIZES(BM_EnumValues_Floor);

} // namespace
} // namespace tavo::bench
