// Allocation of small blocks (16 to 256 bytes) through each strategy of the
// memory service, called directly and through COM_IMemory, next to malloc
// and a bare bump pointer measured in the same run.
//
// "Alloc" benchmarks time a batch of allocations only, with a wall clock
// read around the batch (pausing the library's CPU timer costs more than a
// batch here); giving the batch back (free, Reset) is not timed. "Warm"
// arena runs are the fill, Reset, fill cycle of a client: Reset destroys
// the arena and reserves a new one of the same size, which the platform
// layer serves on the pages of the old one. "AllocFree" benchmarks time
// allocation and release together, at one block size per run.
#include <benchmark/benchmark.h>
#include <tavocom/tavocom.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "memory/linear.h"
#include "memory/standard.h"
#include "memory/virtual_arena.h"

namespace {

using tavo::memory::CLinearAllocationStrategy;
using tavo::memory::CStandardAllocationStrategy;
using tavo::memory::CVirtualAllocationStrategy;

constexpr size_t kBatch = 1024;
constexpr uint64_t kArenaSize = 64u << 20;

// Request sizes of a run: argument 0 spreads them over 16..256 bytes (the
// same sequence everywhere), any other argument is the one size of all.
std::vector<uint64_t> Sizes(const benchmark::State& state) {
    std::vector<uint64_t> s(kBatch, uint64_t(state.range(0)));
    if (state.range(0) != 0) return s;
    uint32_t x = 12345;
    for (auto& v : s) {
        x = x * 1103515245u + 12345u;
        v = 16 + (x >> 16) % 241;
    }
    return s;
}

using Clock = std::chrono::steady_clock;
void Stop(benchmark::State& state, Clock::time_point start) {
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
}

void Report(benchmark::State& state) { state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBatch)); }

// The least any allocator can do: round, compare, add.
struct BumpPointer {
    char* base;
    char* current;
    char* end;
    void* Alloc(uint64_t size) {
        size = (size + 7) & ~uint64_t(7);
        if (size > uint64_t(end - current)) return nullptr;
        char* p = current;
        current += size;
        return p;
    }
};

utlAutoIf<COM_IMemory> NewMemory(uint32_t type, uint64_t first, uint64_t second) {
    utlAutoIf<COM_IMemory> mem;
    if (COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, mem.PutVoid()) != S_OK ||
        mem->SetStrategy(type, first, second) != S_OK)
        std::abort();
    return mem;
}

// --- allocation only ------------------------------------------------------

void BM_Alloc_Malloc(benchmark::State& state) {
    const auto sizes = Sizes(state);
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        const auto start = Clock::now();
        for (size_t i = 0; i < kBatch; ++i) blocks[i] = std::malloc(sizes[i]);
        benchmark::DoNotOptimize(blocks.data());
        Stop(state, start);
        for (void* p : blocks) std::free(p);
    }
    Report(state);
}
BENCHMARK(BM_Alloc_Malloc)->UseManualTime()->Arg(0)->Arg(16);

void BM_Alloc_BumpPointer(benchmark::State& state) {
    const auto sizes = Sizes(state);
    std::vector<char> buffer(kBatch * 264);
    BumpPointer bump{buffer.data(), buffer.data(), buffer.data() + buffer.size()};
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        const auto start = Clock::now();
        for (size_t i = 0; i < kBatch; ++i) blocks[i] = bump.Alloc(sizes[i]);
        benchmark::DoNotOptimize(blocks.data());
        Stop(state, start);
        bump.current = bump.base;
    }
    Report(state);
}
BENCHMARK(BM_Alloc_BumpPointer)->UseManualTime()->Arg(0)->Arg(16);

// The bump pointer with the arena's block format: a size word in front.
void BM_Alloc_BumpPointerWithHeader(benchmark::State& state) {
    const auto sizes = Sizes(state);
    std::vector<uint64_t> buffer(kBatch * 272 / 8);
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        const auto start = Clock::now();
        uint64_t* current = buffer.data();
        uint64_t* end = buffer.data() + buffer.size();
        for (size_t i = 0; i < kBatch; ++i) {
            const uint64_t words = (sizes[i] + 15) / 8;
            if (words > uint64_t(end - current)) {
                blocks[i] = nullptr;
                continue;
            }
            *current = words * 8;
            blocks[i] = current + 1;
            current += words;
        }
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
        Stop(state, start);
    }
    Report(state);
}
BENCHMARK(BM_Alloc_BumpPointerWithHeader)->UseManualTime()->Arg(0)->Arg(16);

template <class Strategy>
void AllocBatch(benchmark::State& state, Strategy& strategy) {
    const auto sizes = Sizes(state);
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        const auto start = Clock::now();
        for (size_t i = 0; i < kBatch; ++i) blocks[i] = strategy.Alloc(sizes[i]);
        benchmark::DoNotOptimize(blocks.data());
        Stop(state, start);
        strategy.Reset();
    }
    Report(state);
}

void BM_Alloc_Linear_Direct(benchmark::State& state) {
    std::vector<char> buffer(kBatch * 264);
    CLinearAllocationStrategy strategy(reinterpret_cast<uintptr_t>(buffer.data()), buffer.size());
    AllocBatch(state, strategy);
}
BENCHMARK(BM_Alloc_Linear_Direct)->UseManualTime()->Arg(0)->Arg(16);

void BM_Alloc_Linear_Interface(benchmark::State& state) {
    std::vector<char> buffer(kBatch * 264);
    auto mem = NewMemory(COM_MEMORY_STRATEGY_LINEAR, reinterpret_cast<uintptr_t>(buffer.data()), buffer.size());
    AllocBatch(state, *mem.Get());
}
BENCHMARK(BM_Alloc_Linear_Interface)->UseManualTime()->Arg(0)->Arg(16);

void BM_Alloc_Arena_Direct_Warm(benchmark::State& state) {
    CVirtualAllocationStrategy strategy(0, kArenaSize, false);
    AllocBatch(state, strategy);
}
BENCHMARK(BM_Alloc_Arena_Direct_Warm)->UseManualTime()->Arg(0)->Arg(16);

void BM_Alloc_Arena_Interface_Warm(benchmark::State& state) {
    auto mem = NewMemory(COM_MEMORY_STRATEGY_VIRTUAL, 0, kArenaSize);
    AllocBatch(state, *mem.Get());
}
BENCHMARK(BM_Alloc_Arena_Interface_Warm)->UseManualTime()->Arg(0)->Arg(16);

// --- allocation and release ----------------------------------------------

template <class Alloc, class Free>
void AllocFreeBatch(benchmark::State& state, Alloc alloc, Free release) {
    const uint64_t size = uint64_t(state.range(0));
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        for (size_t i = 0; i < kBatch; ++i) blocks[i] = alloc(size);
        benchmark::DoNotOptimize(blocks.data());
        for (void* p : blocks) release(p);
    }
    Report(state);
}

void BM_AllocFree_Malloc(benchmark::State& state) {
    AllocFreeBatch(state, [](uint64_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}
BENCHMARK(BM_AllocFree_Malloc)->Arg(16)->Arg(64)->Arg(256);

void BM_AllocFree_Standard_Direct(benchmark::State& state) {
    CStandardAllocationStrategy strategy;
    AllocFreeBatch(state, [&](uint64_t n) { return strategy.Alloc(n); }, [&](void* p) { strategy.Free(p); });
}
BENCHMARK(BM_AllocFree_Standard_Direct)->Arg(16)->Arg(64)->Arg(256);

void BM_AllocFree_Standard_Interface(benchmark::State& state) {
    auto mem = NewMemory(COM_MEMORY_STRATEGY_STANDARD, 0, 0);
    COM_IMemory* m = mem.Get();
    AllocFreeBatch(state, [&](uint64_t n) { return m->Alloc(n); }, [&](void* p) { m->Free(p); });
}
BENCHMARK(BM_AllocFree_Standard_Interface)->Arg(16)->Arg(64)->Arg(256);

void BM_AllocFree_ArenaFreeList_Direct(benchmark::State& state) {
    CVirtualAllocationStrategy strategy(0, kArenaSize, true);
    AllocFreeBatch(state, [&](uint64_t n) { return strategy.Alloc(n); }, [&](void* p) { strategy.Free(p); });
}
BENCHMARK(BM_AllocFree_ArenaFreeList_Direct)->Arg(16)->Arg(64)->Arg(256);

void BM_AllocFree_ArenaFreeList_Interface(benchmark::State& state) {
    auto mem = NewMemory(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 0, kArenaSize);
    COM_IMemory* m = mem.Get();
    AllocFreeBatch(state, [&](uint64_t n) { return m->Alloc(n); }, [&](void* p) { m->Free(p); });
}
BENCHMARK(BM_AllocFree_ArenaFreeList_Interface)->Arg(16)->Arg(64)->Arg(256);

} // namespace
