#include "memory/linear.h"

namespace tavo::memory {

void* CLinearAllocationStrategy::Alloc(uint64_t size) {
    if (size > m_end - m_current) return nullptr;
    uintptr_t block = m_current;
    m_current += size;
    return reinterpret_cast<void*>(block);
}

// Blocks are never given back one by one.
void CLinearAllocationStrategy::Free(void*) {}

uint64_t CLinearAllocationStrategy::GetTotalSize() { return m_end - m_base; }
uint64_t CLinearAllocationStrategy::GetAvailableSize() { return m_end - m_current; }

COM_HRESULT CLinearAllocationStrategy::Reset() {
    m_current = m_base;
    return S_OK;
}

bool CLinearAllocationStrategy::GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) {
    *freeBytes = 0;
    *overheadBytes = 0;
    *freeBlocks = 0;
    return true;
}

uint32_t CLinearAllocationStrategy::GetInfo() { return 0; }

} // namespace tavo::memory
