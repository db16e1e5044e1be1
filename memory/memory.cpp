#include "memory/memory.h"

#include "core/raise.h"
#include "memory/linear.h"
#include "memory/standard.h"

namespace tavo::memory {

COM_CClassFactory<CMemory> g_memoryClassFactory;

CMemory::~CMemory() = default;

COM_HRESULT CMemory::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IMemory, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CMemory::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CMemory::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CMemory::SetStrategy(uint32_t type, uint64_t first, uint64_t second) {
    // The old strategy goes first, so that a failed call leaves none.
    m_arenas = nullptr;
    m_strategy.reset();
    m_allocCount = 0;
    m_freeCount = 0;
    // No strategy object or no first arena (both out of memory): E_FAIL.
    return core::GuardedAll(E_FAIL, E_UNEXPECTED, [&]() -> COM_HRESULT {
        switch (type) {
        case COM_MEMORY_STRATEGY_STANDARD:
            m_strategy = std::make_unique<CStandardAllocationStrategy>();
            break;
        case COM_MEMORY_STRATEGY_LINEAR:
            // The caller's buffer as given: its bounds are only compared and
            // moved, never dereferenced here.
            m_strategy = std::make_unique<CLinearAllocationStrategy>(uintptr_t(first), second);
            break;
        case COM_MEMORY_STRATEGY_VIRTUAL:
        case COM_MEMORY_STRATEGY_VIRTUAL_FREELIST: {
            auto arenas = std::make_unique<CVirtualAllocationStrategy>(uintptr_t(first), second,
                                                                       type == COM_MEMORY_STRATEGY_VIRTUAL_FREELIST);
            m_arenas = arenas.get();
            m_strategy = std::move(arenas);
            break;
        }
        default:
            return E_INVALIDARG;
        }
        return S_OK;
    });
}

void* CMemory::Alloc(uint64_t size) {
    if (!m_strategy) return nullptr;
    void* block = m_arenas ? m_arenas->Alloc(size) : m_strategy->Alloc(size);
    if (block) ++m_allocCount;
    return block;
}

void CMemory::Free(void* block) {
    if (!block || !m_strategy) return;
    if (m_arenas)
        m_arenas->Free(block);
    else
        m_strategy->Free(block);
    ++m_freeCount;
}

COM_HRESULT CMemory::Reset() {
    if (!m_strategy) return E_FAIL;
    COM_HRESULT hr = m_strategy->Reset();
    if (hr == S_OK) {
        m_allocCount = 0;
        m_freeCount = 0;
    }
    return hr;
}

COM_HRESULT CMemory::GetStats(uint32_t* allocations, uint32_t* frees, uint32_t* total, uint32_t* available) {
    if (!m_strategy) return E_FAIL;
    if (!allocations || !frees || !total || !available) return E_POINTER;
    return core::GuardedAll(E_UNEXPECTED, E_UNEXPECTED, [&] {
        const uint64_t totalSize = m_strategy->GetTotalSize();
        const uint64_t availableSize = m_strategy->GetAvailableSize();
        *allocations = m_allocCount;
        *frees = m_freeCount;
        *total = uint32_t(totalSize);
        *available = uint32_t(availableSize);
        return S_OK;
    });
}

COM_HRESULT CMemory::GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) {
    if (!m_strategy) return E_FAIL;
    if (!freeBytes || !overheadBytes || !freeBlocks) return E_POINTER;
    return core::GuardedAll(E_UNEXPECTED, E_UNEXPECTED, [&] {
        return m_strategy->GetFreeListStats(freeBytes, overheadBytes, freeBlocks) ? S_OK : E_NOTIMPL;
    });
}

COM_HRESULT CMemory::GetStrategyInfo(uint32_t* info) {
    if (!m_strategy) return E_FAIL;
    if (!info) return E_POINTER;
    return core::GuardedAll(E_UNEXPECTED, E_UNEXPECTED, [&] {
        *info = m_strategy->GetInfo();
        return S_OK;
    });
}

COM_HRESULT CMemory::GetStrategyTypeInfo(uint32_t type, uint32_t* info) {
    uint32_t word = 0;
    switch (type) {
    case COM_MEMORY_STRATEGY_STANDARD: word = CStandardAllocationStrategy::GetTypeInfo(); break;
    case COM_MEMORY_STRATEGY_LINEAR: word = CLinearAllocationStrategy::GetTypeInfo(); break;
    case COM_MEMORY_STRATEGY_VIRTUAL:
    case COM_MEMORY_STRATEGY_VIRTUAL_FREELIST: word = CVirtualAllocationStrategy::GetTypeInfo(); break;
    default: return E_INVALIDARG;
    }
    if (!info) return E_POINTER;
    *info = word;
    return S_OK;
}

} // namespace tavo::memory
