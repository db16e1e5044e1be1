// The strategy that carves blocks one after the other out of a caller's
// buffer and takes them back only all at once.
#ifndef TAVOCOM_MEMORY_LINEAR_H
#define TAVOCOM_MEMORY_LINEAR_H

#include "memory/strategy.h"

namespace tavo::memory {

/// No header, no rounding, no alignment: a request of n bytes moves the
/// current address by exactly n. The buffer belongs to the caller and must
/// outlive the strategy.
class CLinearAllocationStrategy final : public CAllocationStrategy {
public:
    /// The buffer is taken as given. Every size is a difference of two
    /// addresses modulo 2^64, so a buffer that wraps around the address
    /// space still has exactly `size` bytes to hand out.
    CLinearAllocationStrategy(uintptr_t base, uint64_t size) noexcept
        : m_base(base), m_end(base + size), m_current(base) {}

    void* Alloc(uint64_t size) override;
    void Free(void* block) override;
    uint64_t GetTotalSize() override;
    uint64_t GetAvailableSize() override;
    COM_HRESULT Reset() override;
    bool GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) override;
    uint32_t GetInfo() override;

    static uint32_t GetTypeInfo() noexcept { return 1; }

private:
    uintptr_t m_base;
    uintptr_t m_end;
    uintptr_t m_current; // m_current - m_base <= m_end - m_base
};

} // namespace tavo::memory

#endif
