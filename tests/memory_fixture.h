// A memory object created as a client creates it, and its figures.
#ifndef TAVOCOM_TESTS_MEMORY_FIXTURE_H
#define TAVOCOM_TESTS_MEMORY_FIXTURE_H

#include "support/test_support.h"

#include <cstring>
#include <tuple>

namespace tavo::test {

struct MemoryStats {
    uint32_t allocations = 0, frees = 0, total = 0, available = 0;
};
struct FreeListStats {
    uint32_t freeBytes = 0, overheadBytes = 0, freeBlocks = 0;
};

inline constexpr uint32_t kPoison32 = 0xDEADBEEFu;
inline constexpr uint64_t k64K = 0x10000;

inline uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

class MemoryTest : public ModuleCountTest {
protected:
    void SetUp() override {
        ModuleCountTest::SetUp();
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, mem.PutVoid()), S_OK);
    }
    void TearDown() override {
        mem.Reset(nullptr);
        ModuleCountTest::TearDown();
    }
    MemoryStats Stats(COM_IMemory* m = nullptr) {
        MemoryStats s;
        EXPECT_EQ((m ? m : mem.Get())->GetStats(&s.allocations, &s.frees, &s.total, &s.available), S_OK);
        return s;
    }
    void ExpectStats(uint32_t allocations, uint32_t frees, uint32_t total, uint32_t available, COM_IMemory* m = nullptr) {
        const MemoryStats s = Stats(m);
        EXPECT_EQ(std::make_tuple(s.allocations, s.frees, s.total, s.available), std::make_tuple(allocations, frees, total, available));
    }
    /// Free-list figures, poisoned first; `want` is the expected status.
    FreeListStats FreeList(COM_HRESULT want = S_OK) {
        FreeListStats s{kPoison32, kPoison32, kPoison32};
        EXPECT_EQ(mem->GetFreeListStats(&s.freeBytes, &s.overheadBytes, &s.freeBlocks), want);
        return s;
    }
    void ExpectFreeList(uint32_t freeBytes, uint32_t overheadBytes, uint32_t freeBlocks) {
        const FreeListStats f = FreeList();
        EXPECT_EQ(std::make_tuple(f.freeBytes, f.overheadBytes, f.freeBlocks), std::make_tuple(freeBytes, overheadBytes, freeBlocks));
    }
    /// The size word in front of a block handed out by an arena strategy.
    static uint64_t SizeWord(const void* block) {
        uint64_t size;
        memcpy(&size, static_cast<const char*>(block) - 8, sizeof size);
        return size;
    }
    char* Alloc(uint64_t size) { return static_cast<char*>(mem->Alloc(size)); }

    utlAutoIf<COM_IMemory> mem;
};

} // namespace tavo::test

#endif
