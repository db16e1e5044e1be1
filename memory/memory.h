// The memory service object: one allocation strategy chosen by the client,
// and counters over the calls that pass through it.
#ifndef TAVOCOM_MEMORY_MEMORY_H
#define TAVOCOM_MEMORY_MEMORY_H

#include <memory>

#include "core/object.h"
#include "memory/strategy.h"
#include "memory/virtual_arena.h"

namespace tavo::memory {

/// Forwards every allocation to its strategy. Without a strategy (as the
/// factory creates it) Alloc gives null, Free does nothing and Reset fails.
/// Alloc, Free and Reset let the strategy's exceptions through by design.
class CMemory : public COM_CComObjectRoot, public COM_CComCoClass<CMemory, &COM_CLSID_Memory>, public COM_IMemory {
public:
    CMemory() noexcept = default;
    CMemory(const CMemory&) = delete;
    CMemory& operator=(const CMemory&) = delete;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT SetStrategy(uint32_t type, uint64_t first, uint64_t second) override;
    void* Alloc(uint64_t size) override;
    void Free(void* block) override;
    COM_HRESULT Reset() override;
    COM_HRESULT GetStats(uint32_t* allocations, uint32_t* frees, uint32_t* total, uint32_t* available) override;
    COM_HRESULT GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) override;
    COM_HRESULT GetStrategyInfo(uint32_t* info) override;
    COM_HRESULT GetStrategyTypeInfo(uint32_t type, uint32_t* info) override;
    virtual ~CMemory();

private:
    uint32_t m_refCount = 0;
    uint32_t m_allocCount = 0; // non-null Alloc results since the last strategy change or reset
    uint32_t m_freeCount = 0;  // non-null Free calls, likewise
    std::unique_ptr<CAllocationStrategy> m_strategy;
    // The strategy again when it is the arena strategy, called without the
    // virtual call: it is the allocator that clients pick for speed.
    CVirtualAllocationStrategy* m_arenas = nullptr;
};

/// The class factory entered in the class object map.
extern COM_CClassFactory<CMemory> g_memoryClassFactory;

} // namespace tavo::memory

#endif
