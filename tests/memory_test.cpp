// The memory service object with the standard and linear strategies, and
// the failure paths of choosing a strategy.
#include "memory_fixture.h"

#include <cstring>
#include <vector>

namespace tavo::test {
namespace {

class MemoryObjectTest : public MemoryTest {};

TEST_F(MemoryObjectTest, AnswersItsInterfacesOnly) {
    utlAutoIf<COM_IUnknown> unknown;
    ASSERT_EQ(mem->QueryInterface(COM_IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(mem.Get()));
    void* other = kPoison;
    EXPECT_EQ(mem->QueryInterface(COM_IID_IErrorInfo, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(MemoryObjectTest, WithoutStrategyNothingIsServedAndNothingBreaks) {
    MemoryStats s{kPoison32, kPoison32, kPoison32, kPoison32};
    EXPECT_EQ(mem->GetStats(&s.allocations, &s.frees, &s.total, &s.available), E_FAIL);
    EXPECT_EQ(s.allocations & s.frees & s.total & s.available, kPoison32);
    FreeListStats f{kPoison32, kPoison32, kPoison32};
    EXPECT_EQ(mem->GetFreeListStats(&f.freeBytes, &f.overheadBytes, &f.freeBlocks), E_FAIL);
    EXPECT_EQ(f.freeBytes & f.overheadBytes & f.freeBlocks, kPoison32);
    uint32_t info = kPoison32;
    EXPECT_EQ(mem->GetStrategyInfo(&info), E_FAIL);
    EXPECT_EQ(info, kPoison32);

    EXPECT_EQ(mem->Alloc(16), nullptr);
    int local = 0;
    mem->Free(&local); // nothing to forward to: ignored
    mem->Free(nullptr);
    EXPECT_EQ(mem->Reset(), E_FAIL);

    // Class-level information needs no strategy.
    EXPECT_EQ(mem->GetStrategyTypeInfo(COM_MEMORY_STRATEGY_VIRTUAL, &info), S_OK);
    EXPECT_EQ(info, 1u);
}

TEST_F(MemoryObjectTest, StrategyTypeInfoIsOneForEveryKnownCode) {
    for (uint32_t type = 1; type <= 4; ++type) {
        uint32_t info = kPoison32;
        EXPECT_EQ(mem->GetStrategyTypeInfo(type, &info), S_OK) << type;
        EXPECT_EQ(info, 1u) << type;
    }
    for (uint32_t type : {0u, 5u, 0x80000001u, 0xFFFFFFFFu}) {
        uint32_t info = kPoison32;
        EXPECT_EQ(mem->GetStrategyTypeInfo(type, &info), E_INVALIDARG) << type;
        EXPECT_EQ(info, kPoison32) << type;
    }
}

TEST_F(MemoryObjectTest, NullOutputsAreRefusedWithoutWriting) {
    uint32_t a = kPoison32, b = kPoison32, c = kPoison32;
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, 0, 0), S_OK);
    EXPECT_EQ(mem->GetStats(&a, &b, &c, nullptr), E_POINTER);
    EXPECT_EQ(mem->GetFreeListStats(&a, nullptr, &c), E_POINTER);
    EXPECT_EQ(mem->GetStrategyInfo(nullptr), E_POINTER);
    EXPECT_EQ(mem->GetStrategyTypeInfo(1, nullptr), E_POINTER);
    EXPECT_EQ(a & b & c, kPoison32);
}

TEST_F(MemoryObjectTest, StandardStrategyUsesTheHeapAndCannotReset) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0x1234, 0x5678), S_OK);
    MemoryStats s = Stats();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.frees, 0u);
    EXPECT_EQ(s.total, 0xFFFFFFFFu);
    EXPECT_EQ(s.available, 0xFFFFFFFFu);

    auto* a = static_cast<unsigned char*>(mem->Alloc(100));
    auto* b = static_cast<unsigned char*>(mem->Alloc(1000));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    memset(a, 0xA5, 100);
    memset(b, 0x5A, 1000);
    EXPECT_EQ(a[99], 0xA5);
    mem->Free(a);
    mem->Free(nullptr);
    s = Stats();
    EXPECT_EQ(s.allocations, 2u);
    EXPECT_EQ(s.frees, 1u);

    // The heap refuses; the count stays.
    EXPECT_EQ(mem->Alloc(~uint64_t(0)), nullptr);
    EXPECT_EQ(mem->Reset(), E_NOTIMPL);
    s = Stats();
    EXPECT_EQ(s.allocations, 2u);
    EXPECT_EQ(s.frees, 1u);

    FreeListStats f{kPoison32, kPoison32, kPoison32};
    EXPECT_EQ(mem->GetFreeListStats(&f.freeBytes, &f.overheadBytes, &f.freeBlocks), E_NOTIMPL);
    EXPECT_EQ(f.freeBytes & f.overheadBytes & f.freeBlocks, kPoison32);
    uint32_t info = kPoison32;
    EXPECT_EQ(mem->GetStrategyInfo(&info), S_OK);
    EXPECT_EQ(info, 0u);
    mem->Free(b);
}

TEST_F(MemoryObjectTest, LinearStrategyBumpsWithoutHeaderOrRounding) {
    alignas(16) unsigned char buffer[100];
    const uint64_t base = Addr(buffer);
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, base, sizeof buffer), S_OK);
    EXPECT_EQ(mem->Alloc(60), buffer);
    EXPECT_EQ(mem->Alloc(60), nullptr);
    MemoryStats s = Stats();
    EXPECT_EQ(s.allocations, 1u);
    EXPECT_EQ(s.frees, 0u);
    EXPECT_EQ(s.total, 100u);
    EXPECT_EQ(s.available, 40u);

    EXPECT_EQ(mem->Reset(), S_OK);
    s = Stats();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.available, 100u);

    EXPECT_EQ(mem->Alloc(3), buffer);
    EXPECT_EQ(mem->Alloc(8), buffer + 3);
    EXPECT_EQ(mem->Alloc(0), buffer + 11); // no move
    EXPECT_EQ(mem->Alloc(0), buffer + 11);
    mem->Free(buffer + 3); // blocks are not given back one by one
    EXPECT_EQ(Stats().available, 89u);
    EXPECT_EQ(mem->Alloc(89), buffer + 11); // exactly what is left
    EXPECT_EQ(mem->Alloc(0), buffer + 100);  // the end itself, for nothing
    EXPECT_EQ(mem->Alloc(1), nullptr);
    s = Stats();
    EXPECT_EQ(s.allocations, 6u);
    EXPECT_EQ(s.frees, 1u);
    EXPECT_EQ(s.available, 0u);
    EXPECT_EQ(mem->Alloc(~uint64_t(0)), nullptr);

    FreeListStats f{kPoison32, kPoison32, kPoison32};
    EXPECT_EQ(mem->GetFreeListStats(&f.freeBytes, &f.overheadBytes, &f.freeBlocks), S_OK);
    EXPECT_EQ(f.freeBytes | f.overheadBytes | f.freeBlocks, 0u);
    uint32_t info = kPoison32;
    EXPECT_EQ(mem->GetStrategyInfo(&info), S_OK);
    EXPECT_EQ(info, 0u);
}

TEST_F(MemoryObjectTest, LinearStrategyOverSixteenBytes) {
    unsigned char buffer[16];
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, Addr(buffer), sizeof buffer), S_OK);
    EXPECT_EQ(mem->Alloc(16), buffer);
    EXPECT_EQ(mem->Alloc(1), nullptr);
    EXPECT_EQ(Stats().available, 0u);
    EXPECT_EQ(mem->Reset(), S_OK);
    EXPECT_EQ(mem->Alloc(1), buffer);
}

TEST_F(MemoryObjectTest, LinearBufferThatCannotExistIsRefused) {
    unsigned char buffer[16];
    // A range that wraps around the address space, and a size at address 0.
    EXPECT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, Addr(buffer), ~uint64_t(0)), E_INVALIDARG);
    EXPECT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, 0, 100), E_INVALIDARG);
    uint32_t a = kPoison32, b = 0, c = 0, d = 0;
    EXPECT_EQ(mem->GetStats(&a, &b, &c, &d), E_FAIL);
    EXPECT_EQ(a, kPoison32);
    // The last byte of the address space is still a range.
    EXPECT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, ~uint64_t(0) - 15, 15), S_OK);
    EXPECT_EQ(Stats().total, 15u);
}

TEST_F(MemoryObjectTest, ReplacingTheStrategyZeroesTheCounts) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 0, 0x100000), S_OK);
    void* p = mem->Alloc(10);
    ASSERT_NE(p, nullptr);
    mem->Free(p);
    EXPECT_EQ(Stats().allocations, 1u);

    unsigned char buffer[64];
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, Addr(buffer), sizeof buffer), S_OK);
    MemoryStats s = Stats();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.frees, 0u);
    EXPECT_EQ(s.total, 64u);
    EXPECT_EQ(mem->Alloc(64), buffer);

    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
    s = Stats();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.total, 0xFFFFFFFFu);
}

TEST_F(MemoryObjectTest, UnknownTypeCodeLeavesNoStrategy) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
    void* p = mem->Alloc(8);
    ASSERT_NE(p, nullptr);
    mem->Free(p);
    for (uint32_t type : {0u, 5u, 0xFFFFFFFFu}) {
        EXPECT_EQ(mem->SetStrategy(type, 0, 0x10000), E_INVALIDARG) << type;
        uint32_t a = kPoison32, b = 0, c = 0, d = 0;
        EXPECT_EQ(mem->GetStats(&a, &b, &c, &d), E_FAIL);
        EXPECT_EQ(a, kPoison32);
        EXPECT_EQ(mem->Alloc(8), nullptr);
        EXPECT_EQ(mem->Reset(), E_FAIL);
    }
}

TEST_F(MemoryObjectTest, ArenaThatCannotBeReservedFailsTheChoice) {
    // Size 0, a size whose rounding would wrap, a size no address space
    // holds, and an address in the lowest 64 KiB, which is never handed out.
    const struct {
        uint64_t address, size;
    } refused[] = {{0, 0}, {0, ~uint64_t(0)}, {0, ~uint64_t(0) - 0xFFFF}, {0, uint64_t(1) << 62}, {0x123, 0x10000}};
    for (const auto& r : refused) {
        for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
            ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
            EXPECT_EQ(mem->SetStrategy(type, r.address, r.size), E_FAIL) << std::hex << r.address << " " << r.size;
            uint32_t a = kPoison32, b = 0, c = 0, d = 0;
            EXPECT_EQ(mem->GetStats(&a, &b, &c, &d), E_FAIL);
            EXPECT_EQ(mem->Alloc(8), nullptr);
        }
    }
}

// The address of the first arena, learnt from its first block.
uintptr_t FirstArenaBase(COM_IMemory* m) {
    void* first = m->Alloc(1);
    EXPECT_NE(first, nullptr);
    return Addr(first) - 8;
}

TEST_F(MemoryObjectTest, PreferredAddressIsUsedWhenFreeAndRefusedWhenTaken) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, 0, 4 * k64K), S_OK);
    const uintptr_t base = FirstArenaBase(mem.Get());
    EXPECT_EQ(base % k64K, 0u);

    utlAutoIf<COM_IMemory> other;
    ASSERT_EQ(COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, other.PutVoid()), S_OK);
    // Inside or overlapping the first object's arena: taken.
    EXPECT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, base, k64K), E_FAIL);
    EXPECT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, base + 2 * k64K, k64K), E_FAIL);
    EXPECT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, base + 0x1234, k64K), E_FAIL);

    // Released by replacing the strategy, the range is free again; an
    // address inside a 64 KiB granule means the granule's start.
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
    ASSERT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, base + k64K + 0x1238, k64K), S_OK);
    EXPECT_EQ(FirstArenaBase(other.Get()), base + k64K);
    ASSERT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, base, 2 * k64K), S_OK);
    EXPECT_EQ(FirstArenaBase(other.Get()), base);
    MemoryStats s = Stats(other.Get());
    EXPECT_EQ(s.total, k64K);
    EXPECT_EQ(s.available, k64K);

    // Reset asks for no particular address, and the next arena is elsewhere.
    ASSERT_EQ(other->Reset(), S_OK);
    s = Stats(other.Get());
    EXPECT_EQ(s.total, 0u);
    EXPECT_EQ(s.available, 2 * k64K);
}

TEST_F(MemoryObjectTest, FreeOfForeignPointer) {
    int local = 0;
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, 0, k64K), S_OK);
    mem->Free(&local); // no free list: nothing happens, but it counts
    EXPECT_EQ(Stats().frees, 1u);

    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 0, k64K), S_OK);
    void* block = mem->Alloc(24);
    ASSERT_NE(block, nullptr);
    bool caught = false;
    try {
        mem->Free(&local);
    } catch (const std::invalid_argument& e) {
        caught = true;
        EXPECT_STREQ(e.what(), "CVirtualAllocationStrategy::FindArenaOfBlock: Block is not in any arena");
    }
    EXPECT_TRUE(caught);
    // Pointers below 8 and just past the last block are in no arena either.
    EXPECT_THROW(mem->Free(reinterpret_cast<void*>(uintptr_t(4))), std::invalid_argument);
    EXPECT_THROW(mem->Free(static_cast<char*>(block) + 32 + 8), std::invalid_argument);
    MemoryStats s = Stats();
    EXPECT_EQ(s.allocations, 1u);
    EXPECT_EQ(s.frees, 0u); // a refused block is not counted
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBlocks, 0u);

    // A block of an arena that Reset has given up.
    ASSERT_EQ(mem->Reset(), S_OK);
    EXPECT_THROW(mem->Free(block), std::invalid_argument);
}

} // namespace
} // namespace tavo::test
