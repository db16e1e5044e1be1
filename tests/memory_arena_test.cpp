// The arena strategy seen through the memory object: block format, commit
// figures, free-list reuse, arena rotation and growth, and a long random run
// checked against a model of the rules.
#include "memory_fixture.h"

#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

namespace tavo::test {
namespace {

class ArenaTest : public MemoryTest {
protected:
    void Use(uint32_t type, uint64_t arenaSize) { ASSERT_EQ(mem->SetStrategy(type, 0, arenaSize), S_OK); }
    char* Alloc(uint64_t size) { return static_cast<char*>(mem->Alloc(size)); }
};

TEST_F(ArenaTest, BlocksAreRoundedWithAHeaderAndAligned) {
    for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
        Use(type, 0x100000);
        char* p0 = Alloc(0);
        ASSERT_NE(p0, nullptr);
        EXPECT_EQ((Addr(p0) - 8) % k64K, 0u) << "first block starts the arena";
        char* p1 = Alloc(1);
        char* p8 = Alloc(8);
        char* p9 = Alloc(9);
        char* p17 = Alloc(17);
        char* pn = Alloc(1);
        EXPECT_EQ(p1 - p0, 16);
        EXPECT_EQ(p8 - p1, 16);
        EXPECT_EQ(p9 - p8, 16);
        EXPECT_EQ(p17 - p9, 24);
        EXPECT_EQ(pn - p17, 32);
        EXPECT_EQ(SizeWord(p0), 16u);
        EXPECT_EQ(SizeWord(p8), 16u);
        EXPECT_EQ(SizeWord(p9), 24u);
        EXPECT_EQ(SizeWord(p17), 32u);
        for (char* p : {p0, p1, p8, p9, p17, pn}) EXPECT_EQ(Addr(p) % 8, 0u);
        EXPECT_EQ(Stats().allocations, 6u);
    }
}

TEST_F(ArenaTest, MemoryIsCommittedInStepsAsAllocationReachesIt) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL, 0x100000);
    MemoryStats s = Stats();
    EXPECT_EQ(s.total, 0u);
    EXPECT_EQ(s.available, 0x100000u);

    char* first = Alloc(1);
    ASSERT_NE(first, nullptr);
    s = Stats();
    EXPECT_EQ(s.total, 65536u);
    EXPECT_EQ(s.available, 983040u);

    // Up to the last byte of the first step: nothing more is committed.
    char* fill = Alloc(65536 - 16 - 8);
    ASSERT_EQ(fill, first + 16);
    EXPECT_EQ(Stats().total, 65536u);
    // One byte over the step boundary commits one more step; a block that
    // spans several steps commits them all at once.
    char* over = Alloc(1);
    ASSERT_EQ(Addr(over) - 8, Addr(first) - 8 + 65536);
    EXPECT_EQ(Stats().total, 131072u);
    char* big = Alloc(3 * 65536);
    ASSERT_NE(big, nullptr);
    s = Stats();
    EXPECT_EQ(s.total, 5u * 65536);
    EXPECT_EQ(s.total + s.available, 0x100000u);

    // Every committed byte handed out is writable and keeps what it got.
    memset(fill, 0x11, 65536 - 24);
    memset(big, 0x22, 3 * 65536);
    EXPECT_EQ(fill[65536 - 25], 0x11);
    EXPECT_EQ(big[3 * 65536 - 1], 0x22);
    EXPECT_EQ(SizeWord(over), 16u);
}

TEST_F(ArenaTest, ArenaSizeIsRoundedToWholeGranules) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL, 100000);
    MemoryStats s = Stats();
    EXPECT_EQ(s.total + s.available, 131072u);
    // The whole rounded size is usable: 131072 bytes minus one header.
    char* all = Alloc(131072 - 8);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ((Addr(all) - 8) % k64K, 0u);
    s = Stats();
    EXPECT_EQ(s.total, 131072u);
    EXPECT_EQ(s.available, 0u);
    all[131072 - 9] = 1;
}

TEST_F(ArenaTest, WithoutFreeListFreeDoesNothing) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL, k64K);
    char* a = Alloc(32);
    mem->Free(a);
    int local = 0;
    mem->Free(&local);
    EXPECT_EQ(Alloc(32), a + 40);
    MemoryStats s = Stats();
    EXPECT_EQ(s.allocations, 2u);
    EXPECT_EQ(s.frees, 2u);
    COM_HRESULT hr = S_OK;
    FreeList(&hr);
    EXPECT_EQ(hr, E_NOTIMPL);
}

TEST_F(ArenaTest, FreedBlockOfTheSameSizeIsReusedWhole) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* a = Alloc(32);
    char* b = Alloc(32);
    mem->Free(a);
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBytes, 32u);
    EXPECT_EQ(f.overheadBytes, 8u);
    EXPECT_EQ(f.freeBlocks, 1u);
    EXPECT_EQ(Alloc(25), a);
    EXPECT_EQ(SizeWord(a), 40u);
    f = FreeList();
    EXPECT_EQ(f.freeBlocks, 0u);
    EXPECT_EQ(Alloc(32), b + 40); // list empty: bump pointer again
}

TEST_F(ArenaTest, LargeFreeBlockIsSplitAtItsTopEnd) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* a = Alloc(40); // 48-byte block
    char* guard = Alloc(8);
    mem->Free(a);
    char* header = a - 8;
    char* p = Alloc(8); // 16-byte block from the top of the 48
    EXPECT_EQ(p, header + 40);
    EXPECT_EQ(SizeWord(p), 16u);
    EXPECT_EQ(SizeWord(a), 32u); // the rest stays on the list, reduced
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBytes, 24u);
    EXPECT_EQ(f.overheadBytes, 8u);
    EXPECT_EQ(f.freeBlocks, 1u);
    // Splitting again leaves exactly 16: still a split.
    char* q = Alloc(1);
    EXPECT_EQ(q, header + 24);
    EXPECT_EQ(SizeWord(a), 16u);
    // A remainder of 0 takes the rest whole.
    EXPECT_EQ(Alloc(8), a);
    EXPECT_EQ(FreeList().freeBlocks, 0u);
    EXPECT_EQ(Alloc(1), guard + 16);
}

TEST_F(ArenaTest, SmallRemainderHandsOutTheWholeBlock) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* a = Alloc(16); // 24-byte block
    Alloc(1);
    mem->Free(a);
    EXPECT_EQ(Alloc(8), a); // 16 of 24: remainder 8 is too small to split
    EXPECT_EQ(SizeWord(a), 24u);
    EXPECT_EQ(FreeList().freeBlocks, 0u);
    // Freed again, it comes back with its full size.
    mem->Free(a);
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBytes, 16u);
    EXPECT_EQ(f.freeBlocks, 1u);
}

TEST_F(ArenaTest, FirstFitFollowsTheListNewestFirst) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* big = Alloc(56);   // 64-byte block
    char* g1 = Alloc(1);
    char* small = Alloc(8);  // 16-byte block
    char* g2 = Alloc(1);
    char* mid = Alloc(24);   // 32-byte block
    Alloc(1);
    mem->Free(big);
    mem->Free(small);
    mem->Free(mid); // list: mid, small, big
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBytes, 56u + 8 + 24);
    EXPECT_EQ(f.overheadBytes, 24u);
    EXPECT_EQ(f.freeBlocks, 3u);

    // 40 bytes: mid (32) and small (16) are too small, big splits at its top.
    EXPECT_EQ(Alloc(32), big - 8 + 24 + 8);
    EXPECT_EQ(SizeWord(big), 24u);
    // 16 bytes: mid comes first in the list and is split (32 - 16 = 16).
    EXPECT_EQ(Alloc(1), mid - 8 + 16 + 8);
    // Next 16: mid's rest of 16 is first and fits whole.
    EXPECT_EQ(Alloc(8), mid);
    EXPECT_EQ(Alloc(8), small);
    EXPECT_EQ(Alloc(8), big); // 24 of which 16 asked: whole
    EXPECT_EQ(FreeList().freeBlocks, 0u);
    (void)g1;
    (void)g2;
}

TEST_F(ArenaTest, RefusingArenaMovesToTheBack) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* a = Alloc(40000); // arena A: 40008 used, 25528 left
    ASSERT_NE(a, nullptr);
    const uintptr_t arenaA = Addr(a) - 8;
    char* b = Alloc(30000); // does not fit A: new arena B in front
    ASSERT_NE(b, nullptr);
    const uintptr_t arenaB = Addr(b) - 8;
    EXPECT_EQ(arenaB % k64K, 0u);
    MemoryStats s = Stats();
    EXPECT_EQ(s.total + s.available, 2 * k64K);
    EXPECT_EQ(Alloc(30000), b + 30008); // B in front serves; 5520 left in B

    // 20000: B refuses and goes to the back, A serves and stays in front.
    char* c = Alloc(20000);
    EXPECT_EQ(Addr(c) - 8, arenaA + 40008);
    EXPECT_EQ(Alloc(1), c + 20008);
    // A frees into its own list; B's space is reached when A refuses.
    mem->Free(a);
    EXPECT_EQ(Alloc(39000), a + 1000); // split of the 40008 block in A
    char* d = Alloc(5000);             // A has 5504 left at its bump pointer
    EXPECT_EQ(Addr(d) - 8, arenaA + 40008 + 20008 + 16);
    char* e = Alloc(1000); // A: 496 left, 992 in list: B serves
    EXPECT_EQ(Addr(e) - 8, arenaB + 60016);
    s = Stats();
    EXPECT_EQ(s.total + s.available, 2 * k64K) << "no third arena";
    EXPECT_EQ(Alloc(16), e + 1008); // B is in front now
}

TEST_F(ArenaTest, RequestLargerThanAnArenaAddsOneEmptyArenaEachTime) {
    for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
        Use(type, k64K);
        char* p = Alloc(100);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(Stats().available, 0u);
        for (uint32_t i = 1; i <= 3; ++i) {
            EXPECT_EQ(Alloc(k64K), nullptr); // block of 64 KiB + 8
            MemoryStats s = Stats();
            EXPECT_EQ(s.total, k64K);
            EXPECT_EQ(s.available, i * k64K);
            EXPECT_EQ(s.allocations, 1u);
        }
        // Sizes whose block does not fit 64 bits fail before any arena is
        // made; the largest that does fit still adds one.
        for (uint64_t huge : {~uint64_t(0), ~uint64_t(0) - 7, ~uint64_t(0) - 8, ~uint64_t(0) - 14}) {
            EXPECT_EQ(Alloc(huge), nullptr);
            EXPECT_EQ(Stats().available, 3 * k64K);
        }
        EXPECT_EQ(Alloc(~uint64_t(0) - 15), nullptr);
        EXPECT_EQ(Stats().available, 4 * k64K);
        EXPECT_EQ(Alloc((uint64_t(1) << 63) + 1), nullptr);
        EXPECT_EQ(Stats().available, 5 * k64K);
        // The largest block that fits an arena still succeeds, in one of
        // the empty ones.
        char* whole = Alloc(k64K - 8);
        ASSERT_NE(whole, nullptr);
        whole[k64K - 9] = 7;
        MemoryStats s = Stats();
        EXPECT_EQ(s.total, 2 * k64K);
        EXPECT_EQ(s.available, 4 * k64K);
        EXPECT_EQ(s.allocations, 2u);
    }
}

TEST_F(ArenaTest, ResetLeavesOneEmptyUncommittedArena) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 2 * k64K);
    char* a = Alloc(100000);
    char* b = Alloc(100000); // second arena
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    mem->Free(a);
    mem->Free(b);
    MemoryStats s = Stats();
    EXPECT_EQ(s.total, 2 * 2 * k64K);
    EXPECT_EQ(FreeList().freeBlocks, 2u);

    ASSERT_EQ(mem->Reset(), S_OK);
    s = Stats();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.frees, 0u);
    EXPECT_EQ(s.total, 0u);
    EXPECT_EQ(s.available, 2 * k64K);
    FreeListStats f = FreeList();
    EXPECT_EQ(f.freeBytes | f.overheadBytes | f.freeBlocks, 0u);
    char* c = Alloc(8);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ((Addr(c) - 8) % k64K, 0u);
    EXPECT_EQ(Stats().total, k64K);
}

TEST_F(ArenaTest, FreeListSumsBeyond32BitsAreNotReported) {
    // One freed block of 5 GiB: only its first page is ever touched.
    const uint64_t huge = uint64_t(5) << 30;
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, huge + k64K);
    char* p = Alloc(huge);
    if (!p) GTEST_SKIP() << "the system would not commit 5 GiB";
    mem->Free(p);
    FreeListStats f{kPoison32, kPoison32, kPoison32};
    EXPECT_EQ(mem->GetFreeListStats(&f.freeBytes, &f.overheadBytes, &f.freeBlocks), E_NOTIMPL);
    EXPECT_EQ(f.freeBytes, uint32_t(huge)); // the truncated sums are written
    EXPECT_EQ(f.overheadBytes, 8u);
    EXPECT_EQ(f.freeBlocks, 1u);
    ASSERT_EQ(mem->Reset(), S_OK);
}

// ---------------------------------------------------------------------------
// A model of the arena rules, run against the real strategy.

struct ModelBlock {
    uintptr_t header;
    uint64_t size;
};

struct ModelArena {
    bool known = false; // base learnt from the first block it serves
    uintptr_t base = 0;
    uint64_t size = 0;
    uint64_t current = 0; // offsets from base
    uint64_t commit = 0;
    std::vector<ModelBlock> freeList; // head first
};

class ArenaModel {
public:
    ArenaModel(uint64_t arenaSize, bool freeList) : m_arenaSize((arenaSize + 0xFFFF) & ~uint64_t(0xFFFF)), m_freeList(freeList) {
        m_arenas.emplace_back();
        m_arenas.back().size = m_arenaSize;
    }

    /// Applies Alloc(size); `actual` is the real answer, used only to learn
    /// the base of an arena that serves its first block. Returns the
    /// predicted payload address (0 for null).
    uintptr_t Alloc(uint64_t size, uintptr_t actual) {
        if (size > ~uint64_t(0) - 15) return 0;
        const uint64_t r = (size < 8 ? 8 : (size + 7) & ~uint64_t(7)) + 8;
        const size_t k = m_arenas.size();
        for (size_t i = 0; i < k; ++i) {
            if (uintptr_t p = Serve(m_arenas.front(), r, actual)) return p;
            m_arenas.push_back(m_arenas.front());
            m_arenas.pop_front();
        }
        m_arenas.emplace_front();
        m_arenas.front().size = m_arenaSize;
        return Serve(m_arenas.front(), r, actual);
    }

    void Free(uintptr_t payload, uint64_t blockSize) {
        if (!m_freeList) return;
        const uintptr_t header = payload - 8;
        for (ModelArena& a : m_arenas)
            if (a.known && a.base <= header && header < a.base + a.current) {
                a.freeList.insert(a.freeList.begin(), {header, blockSize});
                return;
            }
        ADD_FAILURE() << "model: freed block in no arena";
    }

    void Reset() {
        m_arenas.clear();
        m_arenas.emplace_back();
        m_arenas.back().size = m_arenaSize;
    }

    uint64_t Total() const {
        uint64_t t = 0;
        for (const ModelArena& a : m_arenas) t += a.commit;
        return t;
    }
    uint64_t Available() const {
        uint64_t t = 0;
        for (const ModelArena& a : m_arenas) t += a.size - a.commit;
        return t;
    }
    FreeListStats FreeStats() const {
        FreeListStats s;
        for (const ModelArena& a : m_arenas)
            for (const ModelBlock& b : a.freeList) {
                s.freeBytes += uint32_t(b.size - 8);
                s.overheadBytes += 8;
                s.freeBlocks += 1;
            }
        return s;
    }
    /// Size word the block at `payload` must carry.
    uint64_t LastBlockSize() const { return m_lastSize; }

private:
    uintptr_t Serve(ModelArena& a, uint64_t r, uintptr_t actual) {
        for (size_t i = 0; i < a.freeList.size(); ++i) {
            ModelBlock& b = a.freeList[i];
            if (b.size < r) continue;
            if (b.size - r >= 16) {
                b.size -= r;
                m_lastSize = r;
                return b.header + b.size + 8;
            }
            const ModelBlock whole = b;
            a.freeList.erase(a.freeList.begin() + ptrdiff_t(i));
            m_lastSize = whole.size;
            return whole.header + 8;
        }
        if (r > a.size - a.current) return 0;
        const uint64_t next = a.current + r;
        if (next > a.commit) a.commit += (next - a.commit + 0xFFFF) & ~uint64_t(0xFFFF);
        if (!a.known) {
            // An arena's first block starts it: learn where it is.
            EXPECT_EQ((actual - 8) % 0x10000, 0u) << "new arena not aligned";
            a.base = actual - 8;
            a.known = true;
        }
        const uintptr_t header = a.base + a.current;
        a.current = next;
        m_lastSize = r;
        return header + 8;
    }

    uint64_t m_arenaSize;
    bool m_freeList;
    std::deque<ModelArena> m_arenas;
    uint64_t m_lastSize = 0;
};

struct LiveBlock {
    uint64_t size;    // block size, header included
    uint8_t pattern;  // byte written over the whole payload
};

class ArenaModelTest : public ArenaTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ArenaModelTest, LongRandomRunMatchesTheModel) {
    const uint32_t type = GetParam();
    const bool freeList = type == COM_MEMORY_STRATEGY_VIRTUAL_FREELIST;
    const uint64_t arenaSize = 100000; // two granules: several arenas soon
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        Use(type, arenaSize);
        ArenaModel model(arenaSize, freeList);
        std::mt19937_64 rng(seed);
        auto below = [&](uint64_t n) { return rng() % n; };
        std::map<uintptr_t, LiveBlock> live; // by header address
        std::vector<uintptr_t> order;        // payload addresses, for picking
        uint32_t allocs = 0, frees = 0;

        for (int step = 0; step < 6000; ++step) {
            const uint64_t roll = below(1000);
            if (roll < 3) {
                ASSERT_EQ(mem->Reset(), S_OK);
                model.Reset();
                live.clear();
                order.clear();
                allocs = frees = 0;
            } else if (roll < 560 || order.empty()) {
                uint64_t size;
                const uint64_t kind = below(100);
                if (kind < 80) size = below(300);
                else if (kind < 97) size = below(20000);
                else if (kind < 99) size = 131072 - 8 + below(3) * 8 - 8; // around a whole arena
                else size = ~uint64_t(0) - below(40);
                void* got = mem->Alloc(size);
                const uintptr_t want = model.Alloc(size, Addr(got));
                ASSERT_EQ(Addr(got), want) << "step " << step << " size " << size;
                if (!got) continue;
                ++allocs;
                ASSERT_EQ(Addr(got) % 8, 0u);
                const uint64_t blockSize = model.LastBlockSize();
                ASSERT_EQ(SizeWord(got), blockSize);
                ASSERT_GE(blockSize - 8, size);
                const uintptr_t header = Addr(got) - 8;
                // No overlap with the neighbours among live blocks.
                auto next = live.lower_bound(header);
                if (next != live.end()) {
                    ASSERT_GE(next->first, header + blockSize) << "step " << step;
                }
                if (next != live.begin()) {
                    auto prev = std::prev(next);
                    ASSERT_LE(prev->first + prev->second.size, header) << "step " << step;
                }
                const uint8_t pattern = uint8_t(below(255) + 1);
                memset(got, pattern, blockSize - 8);
                live[header] = {blockSize, pattern};
                order.push_back(Addr(got));
            } else {
                const size_t pick = size_t(below(order.size()));
                const uintptr_t payload = order[pick];
                order[pick] = order.back();
                order.pop_back();
                auto it = live.find(payload - 8);
                ASSERT_NE(it, live.end());
                const LiveBlock block = it->second;
                const auto* bytes = reinterpret_cast<const uint8_t*>(payload);
                for (uint64_t i = 0; i < block.size - 8; ++i)
                    ASSERT_EQ(bytes[i], block.pattern) << "block overwritten, step " << step;
                ASSERT_EQ(SizeWord(bytes), block.size);
                live.erase(it);
                mem->Free(reinterpret_cast<void*>(payload));
                model.Free(payload, block.size);
                ++frees;
            }
            if (step % 16 == 0 || step == 5999) {
                MemoryStats s = Stats();
                ASSERT_EQ(s.allocations, allocs);
                ASSERT_EQ(s.frees, frees);
                ASSERT_EQ(s.total, uint32_t(model.Total())) << "step " << step;
                ASSERT_EQ(s.available, uint32_t(model.Available())) << "step " << step;
                if (freeList) {
                    FreeListStats f = FreeList();
                    FreeListStats w = model.FreeStats();
                    ASSERT_EQ(f.freeBytes, w.freeBytes) << "step " << step;
                    ASSERT_EQ(f.overheadBytes, w.overheadBytes);
                    ASSERT_EQ(f.freeBlocks, w.freeBlocks);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothArenaTypes, ArenaModelTest,
                         ::testing::Values(COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST),
                         [](const testing::TestParamInfo<uint32_t>& p) {
                             return p.param == COM_MEMORY_STRATEGY_VIRTUAL ? std::string("NoFreeList")
                                                                           : std::string("FreeList");
                         });

} // namespace
} // namespace tavo::test
