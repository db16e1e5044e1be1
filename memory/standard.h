// The strategy that passes every request to the process heap.
#ifndef TAVOCOM_MEMORY_STANDARD_H
#define TAVOCOM_MEMORY_STANDARD_H

#include "memory/strategy.h"

namespace tavo::memory {

/// Blocks come from malloc and go back to free; the heap is not measured,
/// so both sizes read as all ones. Blocks still allocated when the strategy
/// goes stay on the heap.
class CStandardAllocationStrategy final : public CAllocationStrategy {
public:
    CStandardAllocationStrategy() noexcept = default;

    void* Alloc(uint64_t size) override;
    void Free(void* block) override;
    uint64_t GetTotalSize() override;
    uint64_t GetAvailableSize() override;
    COM_HRESULT Reset() override;
    bool GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) override;
    uint32_t GetInfo() override;

    static uint32_t GetTypeInfo() noexcept { return 1; }
};

} // namespace tavo::memory

#endif
