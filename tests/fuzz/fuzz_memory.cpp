// Operation sequences on the arena strategies through COM_IMemory, against
// a model: live blocks never overlap and keep their contents, the call
// counts agree, and the figures stay consistent.
#include <cstring>
#include <map>
#include <stdexcept>

#include "fuzz_input.h"

namespace {

struct Block {
    uint64_t size;
    uint8_t fill;
};

bool Intact(const uint8_t* p, const Block& b) {
    for (uint64_t i = 0; i < b.size; ++i)
        if (p[i] != b.fill) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::fuzz::Input in(data, size);
    utlAutoIf<COM_IMemory> mem;
    FUZZ_CHECK(COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, mem.PutVoid()) == S_OK);
    const bool freeList = in.Byte() & 1;
    const uint64_t arenaSize = uint64_t(1 + in.Byte() % 8) << 16;
    FUZZ_CHECK(mem->SetStrategy(freeList ? COM_MEMORY_STRATEGY_VIRTUAL_FREELIST : COM_MEMORY_STRATEGY_VIRTUAL, 0,
                                arenaSize) == S_OK);
    std::map<uintptr_t, Block> live;
    uint32_t allocs = 0, frees = 0;
    for (int step = 0; step < 2000 && !in.Empty(); ++step) {
        switch (in.Byte() % 8) {
        default: { // allocate, sometimes more than an arena holds
            const uint64_t want = (in.Byte() & 0xE0) == 0xE0 ? arenaSize + in.Byte() : in.Byte() * (1 + in.Byte() % 4);
            auto* p = static_cast<uint8_t*>(mem->Alloc(want));
            if (!p) break;
            ++allocs;
            const uintptr_t at = reinterpret_cast<uintptr_t>(p);
            FUZZ_CHECK(at % 8 == 0);
            auto next = live.lower_bound(at);
            FUZZ_CHECK(next == live.end() || next->first >= at + want);
            if (next != live.begin()) {
                auto prev = std::prev(next);
                FUZZ_CHECK(prev->first + prev->second.size <= at);
            }
            Block b{want, uint8_t(step)};
            std::memset(p, b.fill, want);
            live.emplace(at, b);
            break;
        }
        case 4:
        case 5: { // free a live block
            if (live.empty()) break;
            auto it = live.begin();
            std::advance(it, in.Byte() % live.size());
            FUZZ_CHECK(Intact(reinterpret_cast<uint8_t*>(it->first), it->second));
            mem->Free(reinterpret_cast<void*>(it->first));
            ++frees;
            live.erase(it);
            break;
        }
        case 6: { // a pointer the memory object never handed out
            uint64_t local = 0;
            bool raised = false;
            try {
                mem->Free(&local);
            } catch (const std::invalid_argument&) {
                raised = true;
            }
            FUZZ_CHECK(raised == freeList);
            if (!freeList) ++frees;
            break;
        }
        case 7:
            if (in.Byte() % 4 != 0) break;
            FUZZ_CHECK(mem->Reset() == S_OK);
            live.clear();
            allocs = frees = 0;
            break;
        }
        uint32_t a = 0, f = 0, total = 0, available = 0;
        FUZZ_CHECK(mem->GetStats(&a, &f, &total, &available) == S_OK);
        FUZZ_CHECK(a == allocs && f == frees);
        FUZZ_CHECK(total % 0x10000 == 0);
        uint32_t freeBytes = 0, overhead = 0, freeBlocks = 0;
        if (freeList && mem->GetFreeListStats(&freeBytes, &overhead, &freeBlocks) == S_OK)
            FUZZ_CHECK(uint64_t(freeBytes) + overhead <= total && overhead == 8ull * freeBlocks);
    }
    for (const auto& [at, b] : live) FUZZ_CHECK(Intact(reinterpret_cast<const uint8_t*>(at), b));
    return 0;
}
