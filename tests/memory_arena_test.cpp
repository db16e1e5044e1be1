// The arena strategies seen through the memory object: block format, commit
// figures, free-list reuse, arena rotation and growth, and a random run
// checked against a model of the rules.
#include "memory_fixture.h"

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace tavo::test {
namespace {

class ArenaTest : public MemoryTest {
protected:
    void Use(uint32_t type, uint64_t arenaSize) { ASSERT_EQ(mem->SetStrategy(type, 0, arenaSize), S_OK); }
};

TEST_F(ArenaTest, MemoryIsCommittedInGranulesAsAllocationReachesIt) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL, 0x100000);
    ExpectStats(0, 0, 0, 0x100000);
    char* first = Alloc(1);
    EXPECT_EQ(Stats().total, k64K);
    char* fill = Alloc(k64K - 16 - 8); // up to the last byte of the first granule
    ASSERT_EQ(fill, first + 16);
    EXPECT_EQ(Stats().total, k64K);
    char* over = Alloc(1); // one byte over commits one more granule
    ASSERT_EQ(Addr(over) - 8, Addr(first) - 8 + k64K);
    EXPECT_EQ(Stats().total, 2 * k64K);
    char* big = Alloc(3 * k64K); // spans several: all committed at once
    ASSERT_NE(big, nullptr);
    big[3 * k64K - 1] = 1;
    ExpectStats(4, 0, 5 * k64K, 0x100000 - 5 * k64K);
    FreeList(E_NOTIMPL); // no free list without the free-list strategy

    // The arena size is rounded up to whole granules, all of it usable.
    Use(COM_MEMORY_STRATEGY_VIRTUAL, 100000);
    ExpectStats(0, 0, 0, 2 * k64K);
    char* all = Alloc(2 * k64K - 8);
    ASSERT_NE(all, nullptr);
    all[2 * k64K - 9] = 1;
    ExpectStats(1, 0, 2 * k64K, 0);
}

TEST_F(ArenaTest, FirstFitSplitsAtTheTopEndOrHandsOutWhole) {
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, k64K);
    char* big = Alloc(56); // 64-byte block
    Alloc(1);
    char* small = Alloc(8); // 16
    Alloc(1);
    char* mid = Alloc(24); // 32
    char* odd = Alloc(16); // 24
    char* end = Alloc(1);
    for (char* p : {big, small, mid}) mem->Free(p); // list: mid, small, big
    ExpectFreeList(56 + 8 + 24, 24, 3);
    // 40 bytes: mid and small are too small, big splits at its top end.
    char* p = Alloc(32);
    EXPECT_EQ(p, big + 24);
    EXPECT_EQ(SizeWord(p), 40u);
    EXPECT_EQ(SizeWord(big), 24u);
    // 16: mid comes first and splits, leaving exactly 16, then fits whole.
    EXPECT_EQ(Alloc(1), mid + 16);
    EXPECT_EQ(SizeWord(mid), 16u);
    EXPECT_EQ(Alloc(8), mid);
    EXPECT_EQ(Alloc(8), small);
    EXPECT_EQ(Alloc(8), big); // remainder 8 is too small to split: whole
    EXPECT_EQ(SizeWord(big), 24u);
    ExpectFreeList(0, 0, 0);
    EXPECT_EQ(Alloc(1), end + 16); // list empty: bump pointer again
    mem->Free(odd);                 // comes back with its full size
    ExpectFreeList(16, 8, 1);
}

TEST_F(ArenaTest, FreeListSumsBeyond32BitsAreNotReported) {
    const uint64_t huge = uint64_t(5) << 30; // only its first page is touched
    Use(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, huge + k64K);
    char* p = Alloc(huge);
    if (!p) GTEST_SKIP() << "the system would not commit 5 GiB";
    mem->Free(p);
    FreeListStats f = FreeList(E_NOTIMPL);
    EXPECT_EQ(f.freeBytes, uint32_t(huge)); // the truncated sums are written
    EXPECT_EQ(f.overheadBytes, 8u);
    EXPECT_EQ(f.freeBlocks, 1u);
}

// A model of the arena rules, run against the real strategy.
class ArenaModel {
public:
    ArenaModel(uint64_t arenaSize, bool freeList) : m_size((arenaSize + 0xFFFF) & ~uint64_t(0xFFFF)), m_freeList(freeList) { Reset(); }
    void Reset() { m_arenas.assign(1, Arena{}); m_counts = {}; }

    /// Predicted payload (0 for null) and block size of Alloc(size); the real
    /// answer `actual` only tells where a new arena lies.
    uintptr_t Alloc(uint64_t size, uintptr_t actual, uint64_t& block) {
        if (size > ~uint64_t(0) - 15) return 0;
        const uint64_t r = (size < 8 ? 8 : (size + 7) & ~uint64_t(7)) + 8;
        for (size_t i = 0; i < m_arenas.size(); ++i) {
            if (uintptr_t p = Serve(m_arenas.front(), r, actual, block)) return p;
            m_arenas.push_back(m_arenas.front()); // a refusing arena goes to the back
            m_arenas.pop_front();
        }
        m_arenas.emplace_front();
        return Serve(m_arenas.front(), r, actual, block);
    }
    void Free(uintptr_t header, uint64_t block) {
        ++m_counts.frees;
        for (Arena& a : m_arenas)
            if (m_freeList && a.base <= header && header < a.base + a.current) a.free.insert(a.free.begin(), {header, block});
    }
    void Expect(const MemoryStats& s, const FreeListStats& f) const {
        MemoryStats w = m_counts;
        FreeListStats wf;
        for (const Arena& a : m_arenas) {
            w.total += uint32_t(a.commit);
            w.available += uint32_t(m_size - a.commit);
            for (const Block& b : a.free) wf.freeBytes += uint32_t(b.size - 8), wf.overheadBytes += 8, ++wf.freeBlocks;
        }
        EXPECT_EQ(std::make_tuple(s.allocations, s.frees, s.total, s.available), std::make_tuple(w.allocations, w.frees, w.total, w.available));
        if (!m_freeList) return;
        EXPECT_EQ(std::make_tuple(f.freeBytes, f.overheadBytes, f.freeBlocks), std::make_tuple(wf.freeBytes, wf.overheadBytes, wf.freeBlocks));
    }

private:
    struct Block { uintptr_t header; uint64_t size; };
    struct Arena { uintptr_t base = 0; uint64_t current = 0, commit = 0; std::vector<Block> free; }; // free: head first
    uintptr_t Serve(Arena& a, uint64_t r, uintptr_t actual, uint64_t& block) {
        for (auto b = a.free.begin(); b != a.free.end(); ++b) {
            if (b->size < r) continue;
            ++m_counts.allocations;
            if (b->size - r >= 16) { b->size -= r; block = r; return b->header + b->size + 8; } // split at the top
            const uintptr_t p = b->header + 8;
            block = b->size;
            a.free.erase(b);
            return p;
        }
        if (r > m_size - a.current) return 0;
        if (a.current + r > a.commit) a.commit += (a.current + r - a.commit + 0xFFFF) & ~uint64_t(0xFFFF);
        if (a.current == 0) a.base = actual - 8; // an arena's first block starts it
        EXPECT_EQ(a.base % k64K, 0u);
        ++m_counts.allocations;
        a.current += r;
        block = r;
        return a.base + a.current - r + 8;
    }

    uint64_t m_size;
    bool m_freeList;
    std::deque<Arena> m_arenas;
    MemoryStats m_counts;
};

TEST_F(ArenaTest, LongRandomRunMatchesTheModel) {
    for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " seed " << seed);
            Use(type, 100000); // two granules: several arenas soon
            ArenaModel model(100000, type == COM_MEMORY_STRATEGY_VIRTUAL_FREELIST);
            std::mt19937_64 rng(seed);
            auto below = [&](uint64_t n) { return rng() % n; };
            std::map<uintptr_t, std::pair<uint64_t, uint8_t>> live; // header -> block size, fill byte
            for (int step = 0; step < 6000; ++step) {
                const uint64_t roll = below(1000), kind = below(100);
                if (roll < 3) {
                    ASSERT_EQ(mem->Reset(), S_OK);
                    model.Reset();
                    live.clear();
                } else if (roll < 560 || live.empty()) {
                    const uint64_t size = kind < 80 ? below(300) : kind < 97 ? below(20000)
                                        : kind < 99 ? 2 * k64K - 16 + below(3) * 8 : ~uint64_t(0) - below(40);
                    char* got = Alloc(size);
                    uint64_t block = 0;
                    ASSERT_EQ(Addr(got), model.Alloc(size, Addr(got), block)) << "step " << step << " size " << size;
                    if (!got) continue;
                    ASSERT_EQ(SizeWord(got), block) << "step " << step;
                    const uint8_t fill = uint8_t(below(255) + 1); // checked when freed: no overlap
                    memset(got, fill, block - 8);
                    live[Addr(got) - 8] = {block, fill};
                } else {
                    const auto it = std::next(live.begin(), ptrdiff_t(below(live.size())));
                    const auto [block, fill] = it->second;
                    char* payload = reinterpret_cast<char*>(it->first + 8);
                    ASSERT_TRUE(std::all_of(payload, payload + block - 8, [&](char b) { return uint8_t(b) == fill; }))
                        << "block overwritten, step " << step;
                    ASSERT_EQ(SizeWord(payload), block);
                    model.Free(it->first, block);
                    live.erase(it);
                    mem->Free(payload);
                }
                if (step % 16 == 0) {
                    SCOPED_TRACE(step);
                    model.Expect(Stats(), type == COM_MEMORY_STRATEGY_VIRTUAL_FREELIST ? FreeList() : FreeListStats{});
                    ASSERT_FALSE(HasFailure());
                }
            }
        }
    }
}

} // namespace
} // namespace tavo::test
