#include "memory/virtual_arena.h"

#include <new>
#include <stdexcept>

#include "platform/vmem.h"

namespace tavo::memory {

CVirtualArena::~CVirtualArena() {
    if (!m_reserved) return;
    if (m_commitEnd != m_base)
        plat::VirtualFree(reinterpret_cast<void*>(m_base), m_commitEnd - m_base, plat::kMemDecommit);
    m_commitEnd = m_base;
    plat::VirtualFree(reinterpret_cast<void*>(m_base), 0, plat::kMemRelease);
}

bool CVirtualArena::Reserve(uintptr_t address, uint64_t size) noexcept {
    void* start = plat::VirtualAlloc(reinterpret_cast<void*>(address), size_t(size), plat::kMemReserve,
                                     plat::kPageReadWrite);
    if (!start) return false;
    m_base = reinterpret_cast<uintptr_t>(start);
    m_current = m_base;
    m_commitEnd = m_base;
    m_reserveEnd = m_base + size;
    m_freeHead = 0;
    m_reserved = true;
    return true;
}

bool CVirtualArena::CommitThrough(uintptr_t end) noexcept {
    const uint64_t step = (end - m_commitEnd + kCommitStep - 1) & ~(kCommitStep - 1);
    if (!plat::VirtualAlloc(reinterpret_cast<void*>(m_commitEnd), size_t(step), plat::kMemCommit,
                            plat::kPageReadWrite))
        return false;
    m_commitEnd += step;
    return true;
}

void* CVirtualArena::AllocFromFreeList(uint64_t blockSize) noexcept {
    uint64_t* link = &m_freeHead;
    for (uintptr_t block = uintptr_t(m_freeHead); block != 0; block = uintptr_t(*link)) {
        const uint64_t size = Word(block);
        if (size >= blockSize) {
            const uint64_t rest = size - blockSize;
            if (rest >= kSmallestSplit) {
                // Hand out the top end; the rest keeps its place in the list.
                Word(block) = rest;
                const uintptr_t top = block + rest;
                Word(top) = blockSize;
                return reinterpret_cast<void*>(top + kBlockHeaderSize);
            }
            *link = Word(block + kBlockHeaderSize);
            return reinterpret_cast<void*>(block + kBlockHeaderSize);
        }
        link = &Word(block + kBlockHeaderSize);
    }
    return nullptr;
}

void CVirtualArena::AddFreeListStats(uint64_t& freeBytes, uint64_t& overheadBytes, uint64_t& freeBlocks) const noexcept {
    for (uintptr_t block = uintptr_t(m_freeHead); block != 0; block = uintptr_t(Word(block + kBlockHeaderSize))) {
        freeBytes += Word(block) - kBlockHeaderSize;
        overheadBytes += kBlockHeaderSize;
        freeBlocks += 1;
    }
}

CVirtualAllocationStrategy::CVirtualAllocationStrategy(uintptr_t preferredAddress, uint64_t arenaSize, bool freeListOn)
    : m_freeListOn(freeListOn), m_arenaSize(arenaSize) {
    if (!AddArena(preferredAddress)) throw std::bad_alloc();
}

CVirtualAllocationStrategy::~CVirtualAllocationStrategy() { DestroyArenas(); }

void CVirtualAllocationStrategy::DestroyArenas() noexcept {
    m_front = nullptr;
    while (!m_arenas.empty()) m_arenas.pop_front();
}

void CVirtualAllocationStrategy::Rotate() {
    m_arenas.push_back(std::move(m_arenas.front()));
    m_arenas.pop_front();
    m_front = m_arenas.front().get();
}

bool CVirtualAllocationStrategy::AddArena(uintptr_t address) {
    auto arena = std::make_unique<CVirtualArena>();
    if (m_arenaSize > ~uint64_t(0) - (kReservationStep - 1)) return false; // rounding would wrap
    const uint64_t size = (m_arenaSize + kReservationStep - 1) & ~(kReservationStep - 1);
    if (!arena->Reserve(address, size)) return false;
    m_arenas.push_front(std::move(arena));
    m_front = m_arenas.front().get();
    return true;
}

void* CVirtualAllocationStrategy::AllocElsewhere(uint64_t blockSize) {
    const size_t count = m_arenas.size();
    // Each arena that refuses goes to the back, so after a full round the
    // queue is back in its old order and a success leaves its arena in front.
    for (size_t tried = 1; tried < count; ++tried) {
        Rotate();
        if (void* block = m_front->Alloc(blockSize)) return block;
    }
    if (count > 1) Rotate();
    if (!AddArena(0)) return nullptr;
    return m_front->Alloc(blockSize);
}

CVirtualArena& CVirtualAllocationStrategy::FindArenaOfBlock(uintptr_t block) {
    for (const auto& arena : m_arenas)
        if (arena->Holds(block)) return *arena;
    throw std::invalid_argument("CVirtualAllocationStrategy::FindArenaOfBlock: Block is not in any arena");
}

uint64_t CVirtualAllocationStrategy::GetTotalSize() {
    uint64_t total = 0;
    for (const auto& arena : m_arenas) total += arena->CommittedBytes();
    return total;
}

uint64_t CVirtualAllocationStrategy::GetAvailableSize() {
    uint64_t available = 0;
    for (const auto& arena : m_arenas) available += arena->UncommittedBytes();
    return available;
}

COM_HRESULT CVirtualAllocationStrategy::Reset() {
    DestroyArenas();
    if (!AddArena(0)) throw std::bad_alloc();
    return S_OK;
}

bool CVirtualAllocationStrategy::GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) {
    if (!m_freeListOn) return false;
    uint64_t bytes = 0, overhead = 0, blocks = 0;
    for (const auto& arena : m_arenas) arena->AddFreeListStats(bytes, overhead, blocks);
    *freeBytes = uint32_t(bytes);
    *overheadBytes = uint32_t(overhead);
    *freeBlocks = uint32_t(blocks);
    return bytes <= 0xFFFFFFFFu && overhead <= 0xFFFFFFFFu && blocks <= 0xFFFFFFFFu;
}

uint32_t CVirtualAllocationStrategy::GetInfo() { return 0; }

} // namespace tavo::memory
