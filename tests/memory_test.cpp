// The memory service object with the standard and linear strategies, and
// the failure paths of choosing a strategy.
#include "memory_fixture.h"
#include "support/process.h"

#include <stdexcept>

namespace tavo::test {
namespace {

constexpr uint32_t kAll = 0xFFFFFFFFu;

class MemoryObjectTest : public MemoryTest {
protected:
    /// Without a strategy: figures refused and left alone, nothing served.
    void ExpectNoStrategy() {
        MemoryStats s{kPoison32, kPoison32, kPoison32, kPoison32};
        EXPECT_EQ(mem->GetStats(&s.allocations, &s.frees, &s.total, &s.available), E_FAIL);
        EXPECT_EQ(s.allocations & s.frees & s.total & s.available, kPoison32);
        EXPECT_EQ(mem->Alloc(8), nullptr);
        EXPECT_EQ(mem->Reset(), E_FAIL);
    }
    uint32_t StrategyInfo() {
        uint32_t info = kPoison32;
        EXPECT_EQ(mem->GetStrategyInfo(&info), S_OK);
        return info;
    }
    /// The address of the first arena, learnt from its first block.
    static uintptr_t FirstArenaBase(COM_IMemory* m) { return Addr(m->Alloc(1)) - 8; }
};

TEST_F(MemoryObjectTest, FreshObjectAnswersOnlyItsInterfacesAndClassInfo) {
    utlAutoIf<COM_IUnknown> unknown;
    ASSERT_EQ(mem->QueryInterface(COM_IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(mem.Get()));
    void* other = kPoison;
    EXPECT_EQ(mem->QueryInterface(COM_IID_IErrorInfo, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    ExpectNoStrategy();
    FreeListStats f = FreeList(E_FAIL);
    EXPECT_EQ(f.freeBytes & f.overheadBytes & f.freeBlocks, kPoison32);
    uint32_t info = kPoison32;
    EXPECT_EQ(mem->GetStrategyInfo(&info), E_FAIL);
    EXPECT_EQ(info, kPoison32);
    int local = 0;
    mem->Free(&local); // nothing to forward to: ignored
    mem->Free(nullptr);
    for (uint32_t type : {1u, 2u, 3u, 4u, 0u, 5u, 0x80000001u, kAll}) {
        SCOPED_TRACE(type);
        const bool known = type >= 1 && type <= 4;
        info = kPoison32;
        EXPECT_EQ(mem->GetStrategyTypeInfo(type, &info), known ? S_OK : E_INVALIDARG);
        EXPECT_EQ(info, known ? 1u : kPoison32);
    }
}

TEST_F(MemoryObjectTest, StandardStrategyUsesTheHeapAndCannotReset) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0x1234, 0x5678), S_OK);
    ExpectStats(0, 0, kAll, kAll);
    char* a = Alloc(100);
    char* b = Alloc(1000);
    ASSERT_TRUE(a && b);
    memset(a, 0xA5, 100);
    memset(b, 0x5A, 1000);
    mem->Free(a);
    EXPECT_EQ(mem->Alloc(~uint64_t(0)), nullptr); // the heap refuses; not counted
    EXPECT_EQ(mem->Reset(), E_NOTIMPL);
    ExpectStats(2, 1, kAll, kAll);
    FreeListStats f = FreeList(E_NOTIMPL);
    EXPECT_EQ(f.freeBytes & f.overheadBytes & f.freeBlocks, kPoison32);
    EXPECT_EQ(StrategyInfo(), 0u);
    mem->Free(b);
}

TEST_F(MemoryObjectTest, LinearStrategyBumpsWithoutHeaderOrRounding) {
    alignas(16) char buffer[100];
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, Addr(buffer), sizeof buffer), S_OK);
    uint32_t a = kPoison32, b = kPoison32, c = kPoison32; // null outputs: refused, nothing written
    EXPECT_EQ(mem->GetStats(&a, &b, &c, nullptr), E_POINTER);
    EXPECT_EQ(mem->GetFreeListStats(&a, nullptr, &c), E_POINTER);
    EXPECT_EQ(mem->GetStrategyInfo(nullptr), E_POINTER);
    EXPECT_EQ(mem->GetStrategyTypeInfo(1, nullptr), E_POINTER);
    EXPECT_EQ(a & b & c, kPoison32);
    EXPECT_EQ(Alloc(60), buffer);
    EXPECT_EQ(Alloc(60), nullptr);
    ExpectStats(1, 0, 100, 40);
    EXPECT_EQ(mem->Reset(), S_OK);
    ExpectStats(0, 0, 100, 100);
    EXPECT_EQ(Alloc(3), buffer);
    EXPECT_EQ(Alloc(8), buffer + 3);
    EXPECT_EQ(Alloc(0), buffer + 11); // no move
    EXPECT_EQ(Alloc(0), buffer + 11);
    mem->Free(buffer + 3); // blocks are not given back one by one
    EXPECT_EQ(Alloc(89), buffer + 11); // exactly what is left
    EXPECT_EQ(Alloc(0), buffer + 100); // the end itself, for nothing
    EXPECT_EQ(Alloc(1), nullptr);
    EXPECT_EQ(mem->Alloc(~uint64_t(0)), nullptr);
    ExpectStats(6, 1, 100, 0);
    ExpectFreeList(0, 0, 0);
    EXPECT_EQ(StrategyInfo(), 0u);
}

TEST_F(MemoryObjectTest, ReplacingTheStrategyZeroesTheCounts) {
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 0, 0x100000), S_OK);
    mem->Free(mem->Alloc(10));
    ExpectStats(1, 1, 0x10000, 0xF0000);
    char buffer[64];
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, Addr(buffer), sizeof buffer), S_OK);
    ExpectStats(0, 0, 64, 64);
    EXPECT_EQ(Alloc(64), buffer);
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
    ExpectStats(0, 0, kAll, kAll);
}

TEST_F(MemoryObjectTest, FailedChoiceLeavesNoStrategy) {
    // Unknown type codes: invalid arguments.
    const uint64_t invalid[][3] = {{0, 0, k64K}, {5, 0, k64K}, {kAll, 0, k64K}};
    for (const auto& v : invalid) {
        SCOPED_TRACE(testing::Message() << v[0] << " " << v[1] << " " << v[2]);
        ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
        mem->Free(mem->Alloc(8));
        EXPECT_EQ(mem->SetStrategy(uint32_t(v[0]), v[1], v[2]), E_INVALIDARG);
        ExpectNoStrategy();
    }
    // A linear buffer is taken as given, at 0 or wrapping around the address
    // space too: its sizes are differences of addresses. Nothing is touched.
    const uint64_t linear[][2] = {{0, 0}, {0, 100}, {~uint64_t(0) - 15, 15}, {~uint64_t(0) - 10, 100}, {0x1000, ~uint64_t(0)}};
    for (const auto& l : linear) {
        SCOPED_TRACE(testing::Message() << std::hex << l[0] << " " << l[1]);
        ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, l[0], l[1]), S_OK);
        ExpectStats(0, 0, uint32_t(l[1]), uint32_t(l[1]));
    }
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_LINEAR, ~uint64_t(0) - 10, 100), S_OK);
    EXPECT_EQ(Addr(mem->Alloc(60)), ~uint64_t(0) - 10);
    EXPECT_EQ(Addr(mem->Alloc(41)), 0u);
    ExpectStats(1, 0, 100, 40);
    // An arena that cannot be reserved: size 0, a size whose rounding would
    // wrap, sizes no address space holds, an address in the lowest 64 KiB.
    const uint64_t refused[][2] = {{0, 0}, {0, ~uint64_t(0)}, {0, ~uint64_t(0) - 0xFFFF}, {0, uint64_t(1) << 62}, {0x123, k64K}};
    for (const auto& r : refused) {
        for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
            SCOPED_TRACE(testing::Message() << type << " " << std::hex << r[0] << " " << r[1]);
            ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
            EXPECT_EQ(mem->SetStrategy(type, r[0], r[1]), E_FAIL);
            ExpectNoStrategy();
        }
    }
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

    // Released by replacing the strategy; an address inside a granule means its start.
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_STANDARD, 0, 0), S_OK);
    ASSERT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, base + k64K + 0x1238, k64K), S_OK);
    EXPECT_EQ(FirstArenaBase(other.Get()), base + k64K);
    ASSERT_EQ(other->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, base, 2 * k64K), S_OK);
    EXPECT_EQ(FirstArenaBase(other.Get()), base);
    ExpectStats(1, 0, k64K, k64K, other.Get());
    // Reset zeroes the counts, asks for no particular address and starts uncommitted.
    ASSERT_EQ(other->Reset(), S_OK);
    ExpectStats(0, 0, 0, 2 * k64K, other.Get());
}

// Committed memory is backed when touched, as the platform backs it.
TEST_F(MemoryObjectTest, CommittedPagesAreBackedOnFirstTouch) {
    constexpr uint64_t kGiB = uint64_t(1) << 30;
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, 0, 2 * kGiB), S_OK);
    const size_t before = ResidentBytes();
    if (before == 0) GTEST_SKIP() << "the platform does not report resident memory";
    auto* block = static_cast<volatile char*>(mem->Alloc(kGiB));
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    EXPECT_LT(ResidentBytes() - before, size_t(1) << 20);
}

TEST_F(MemoryObjectTest, FreeOfForeignPointer) {
    int local = 0;
    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL, 0, k64K), S_OK);
    mem->Free(&local); // no free list: nothing happens, but it counts
    ExpectStats(0, 1, 0, k64K);

    ASSERT_EQ(mem->SetStrategy(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 0, k64K), S_OK);
    char* block = Alloc(24);
    ASSERT_NE(block, nullptr);
    try {
        mem->Free(&local);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "CVirtualAllocationStrategy::FindArenaOfBlock: Block is not in any arena");
    }
    // Pointers below 8 and just past the last block are in no arena either.
    EXPECT_THROW(mem->Free(reinterpret_cast<void*>(uintptr_t(4))), std::invalid_argument);
    EXPECT_THROW(mem->Free(block + 32 + 8), std::invalid_argument);
    ExpectStats(1, 0, k64K, 0); // a refused block is not counted
    ExpectFreeList(0, 0, 0);
    // A block of an arena that Reset has given up.
    ASSERT_EQ(mem->Reset(), S_OK);
    EXPECT_THROW(mem->Free(block), std::invalid_argument);
}

} // namespace
} // namespace tavo::test
