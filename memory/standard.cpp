#include "memory/standard.h"

#include <cstdlib>

namespace tavo::memory {

void* CStandardAllocationStrategy::Alloc(uint64_t size) { return std::malloc(size_t(size)); }
void CStandardAllocationStrategy::Free(void* block) { std::free(block); }
uint64_t CStandardAllocationStrategy::GetTotalSize() { return ~uint64_t(0); }
uint64_t CStandardAllocationStrategy::GetAvailableSize() { return ~uint64_t(0); }
COM_HRESULT CStandardAllocationStrategy::Reset() { return E_NOTIMPL; }
bool CStandardAllocationStrategy::GetFreeListStats(uint32_t*, uint32_t*, uint32_t*) { return false; }
uint32_t CStandardAllocationStrategy::GetInfo() { return 0; }

} // namespace tavo::memory
