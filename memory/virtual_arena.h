// The arena strategy: blocks with an 8-byte size header, carved out of large
// reservations of address space that are backed with memory only as far as
// allocation has reached.
#ifndef TAVOCOM_MEMORY_VIRTUAL_ARENA_H
#define TAVOCOM_MEMORY_VIRTUAL_ARENA_H

#include <deque>
#include <memory>

#include "memory/strategy.h"

namespace tavo::memory {

/// Block layout: a 64-bit size word (header included) in front of the
/// payload; while a block is on a free list, the first payload word links
/// to the next free block's header.
inline constexpr uint64_t kBlockHeaderSize = 8;
inline constexpr uint64_t kSmallestPayload = 8;
/// A free block is split only if the rest can hold a header and a link.
inline constexpr uint64_t kSmallestSplit = 16;
inline constexpr uint64_t kCommitStep = 0x10000;
inline constexpr uint64_t kReservationStep = 0x10000;
/// The largest request whose block size still fits in 64 bits.
inline constexpr uint64_t kLargestRequest = ~uint64_t(0) - 15;

/// One reservation. Memory is committed in kCommitStep steps just ahead of
/// the bump pointer; freed blocks (free list on) are pushed on a LIFO list
/// and never merged.
class CVirtualArena {
public:
    CVirtualArena() noexcept = default;
    /// Decommits and releases the reservation, if one is held.
    ~CVirtualArena();
    CVirtualArena(const CVirtualArena&) = delete;
    CVirtualArena& operator=(const CVirtualArena&) = delete;

    /// Reserves `size` bytes (a multiple of kReservationStep) at `address`
    /// (0: anywhere). False if the platform refuses.
    bool Reserve(uintptr_t address, uint64_t size) noexcept;

    /// A block of `blockSize` bytes (a multiple of 8, at least 16): first
    /// fit from the free list, else at the bump pointer. Returns the payload
    /// address, or null if the arena cannot serve it.
    void* Alloc(uint64_t blockSize) noexcept {
        if (m_freeHead != 0) {
            if (void* reused = AllocFromFreeList(blockSize)) return reused;
        }
        const uintptr_t block = m_current;
        if (blockSize > m_reserveEnd - block) return nullptr;
        const uintptr_t next = block + blockSize;
        if (next > m_commitEnd && !CommitThrough(next)) return nullptr;
        m_current = next;
        Word(block) = blockSize;
        return reinterpret_cast<void*>(block + kBlockHeaderSize);
    }

    /// Whether `block` lies in the part of the arena handed out so far.
    bool Holds(uintptr_t block) const noexcept { return m_base <= block && block < m_current; }
    /// Pushes the block with header at `block` on the front of the free list.
    void PushFree(uintptr_t block) noexcept {
        Word(block + kBlockHeaderSize) = m_freeHead;
        m_freeHead = block;
    }

    uint64_t CommittedBytes() const noexcept { return m_commitEnd - m_base; }
    uint64_t UncommittedBytes() const noexcept { return m_reserveEnd - m_commitEnd; }
    /// Adds payload bytes, header bytes and the count of the free blocks.
    void AddFreeListStats(uint64_t& freeBytes, uint64_t& overheadBytes, uint64_t& freeBlocks) const noexcept;

private:
    static uint64_t& Word(uintptr_t address) noexcept { return *reinterpret_cast<uint64_t*>(address); }
    void* AllocFromFreeList(uint64_t blockSize) noexcept;
    /// Commits whole steps from the commit end until `end` is covered.
    bool CommitThrough(uintptr_t end) noexcept;

    bool m_reserved = false;
    uintptr_t m_base = 0;
    uintptr_t m_reserveEnd = 0;
    uintptr_t m_current = 0;   // m_base <= m_current <= m_reserveEnd
    uintptr_t m_commitEnd = 0; // m_base <= m_commitEnd <= m_reserveEnd
    uint64_t m_freeHead = 0; // header address of the first free block, 0: none
};

/// Serves requests from a queue of arenas, the front one first; an arena
/// that cannot serve a request moves to the back, and when none can, a new
/// one is reserved. Raises std::bad_alloc when arena bookkeeping cannot be
/// allocated or a required arena cannot be reserved, and
/// std::invalid_argument when a freed block lies in no arena.
class CVirtualAllocationStrategy final : public CAllocationStrategy {
public:
    /// Reserves the first arena at `preferredAddress` (0: anywhere).
    CVirtualAllocationStrategy(uintptr_t preferredAddress, uint64_t arenaSize, bool freeListOn);
    ~CVirtualAllocationStrategy() override;

    void* Alloc(uint64_t size) override {
        if (size > kLargestRequest) return nullptr;
        const uint64_t payload = size < kSmallestPayload ? kSmallestPayload : (size + 7) & ~uint64_t(7);
        const uint64_t blockSize = payload + kBlockHeaderSize;
        if (m_front) {
            if (void* block = m_front->Alloc(blockSize)) return block;
        }
        return AllocElsewhere(blockSize);
    }
    void Free(void* block) override {
        if (!m_freeListOn) return;
        const uintptr_t header = reinterpret_cast<uintptr_t>(block) - kBlockHeaderSize;
        // Most blocks come from the front arena: the search starts there.
        CVirtualArena& owner = m_front && m_front->Holds(header) ? *m_front : FindArenaOfBlock(header);
        owner.PushFree(header);
    }
    uint64_t GetTotalSize() override;
    uint64_t GetAvailableSize() override;
    COM_HRESULT Reset() override;
    bool GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) override;
    uint32_t GetInfo() override;

    static uint32_t GetTypeInfo() noexcept { return 1; }

private:
    /// The front arena has refused: the others in turn, then a new arena.
    void* AllocElsewhere(uint64_t blockSize);
    /// Reserves an arena and puts it at the front; false if refused.
    bool AddArena(uintptr_t address);
    CVirtualArena& FindArenaOfBlock(uintptr_t block);
    void DestroyArenas() noexcept;
    /// Moves the front arena to the back.
    void Rotate();

    bool m_freeListOn;
    std::deque<std::unique_ptr<CVirtualArena>> m_arenas;
    uint64_t m_arenaSize;
    // The queue's front arena, kept beside it so that the allocation path
    // reaches it in one load; null when the queue is empty.
    CVirtualArena* m_front = nullptr;
};

} // namespace tavo::memory

#endif
