// The allocation strategy interface of the memory service.
#ifndef TAVOCOM_MEMORY_STRATEGY_H
#define TAVOCOM_MEMORY_STRATEGY_H

#include <tavocom/types.h>

namespace tavo::memory {

/// What every strategy offers the memory object. Each strategy class also
/// has a static GetTypeInfo() giving its class-level information word.
class CAllocationStrategy {
public:
    virtual ~CAllocationStrategy() = default;

    /// A block of at least `size` bytes, or null.
    virtual void* Alloc(uint64_t size) = 0;
    /// Gives back a block from Alloc; never called with null.
    virtual void Free(void* block) = 0;
    virtual uint64_t GetTotalSize() = 0;
    virtual uint64_t GetAvailableSize() = 0;
    /// Makes all memory available again, invalidating every block.
    virtual COM_HRESULT Reset() = 0;
    /// False when the strategy keeps no such statistics (or, for the arena
    /// strategy, when a sum does not fit in 32 bits).
    virtual bool GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) = 0;
    virtual uint32_t GetInfo() = 0;

protected:
    CAllocationStrategy() noexcept = default;
    CAllocationStrategy(const CAllocationStrategy&) = delete;
    CAllocationStrategy& operator=(const CAllocationStrategy&) = delete;
};

} // namespace tavo::memory

#endif
