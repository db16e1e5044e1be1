// A memory object created as a client creates it, and its figures.
#ifndef TAVOCOM_TESTS_MEMORY_FIXTURE_H
#define TAVOCOM_TESTS_MEMORY_FIXTURE_H

#include "support/test_support.h"

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
        ASSERT_TRUE(mem);
    }
    void TearDown() override {
        mem.Reset(nullptr);
        ModuleCountTest::TearDown();
    }

    static MemoryStats Stats(COM_IMemory* m) {
        MemoryStats s;
        EXPECT_EQ(m->GetStats(&s.allocations, &s.frees, &s.total, &s.available), S_OK);
        return s;
    }
    MemoryStats Stats() { return Stats(mem.Get()); }
    /// Free-list figures; `hr` receives the status.
    FreeListStats FreeList(COM_HRESULT* hr = nullptr) {
        FreeListStats s;
        COM_HRESULT got = mem->GetFreeListStats(&s.freeBytes, &s.overheadBytes, &s.freeBlocks);
        if (hr) *hr = got;
        else EXPECT_EQ(got, S_OK);
        return s;
    }
    /// The size word in front of a block handed out by the arena strategy.
    static uint64_t SizeWord(const void* block) {
        uint64_t size;
        memcpy(&size, static_cast<const char*>(block) - 8, sizeof size);
        return size;
    }

    utlAutoIf<COM_IMemory> mem;
};

} // namespace tavo::test

#endif
