// CRegistry's write batches: one store transaction on a root's hive, begun
// and ended through COM_IRegistryBatch.
#include "registry/registry.h"

namespace tavo::registry {

CRegistry::~CRegistry() {
    if (m_batch) plat::RollbackRegistryBatch(m_batch);
}

COM_HRESULT CRegistry::Begin(uint32_t root) {
    plat::RegKeyHandle hive = nullptr;
    const char* suffix = nullptr;
    if (!RootHive(root, &hive, &suffix)) return E_INVALIDARG;
    if (m_batch) return StatusFromPlatform(plat::kErrorBusy);
    if (uint32_t e = plat::BeginRegistryBatch(hive)) return StatusFromPlatform(e);
    m_batch = hive;
    return S_OK;
}

COM_HRESULT CRegistry::Commit() {
    if (!m_batch) return E_UNEXPECTED;
    plat::RegKeyHandle hive = m_batch;
    m_batch = nullptr;
    return StatusFromPlatform(plat::CommitRegistryBatch(hive));
}

COM_HRESULT CRegistry::Rollback() {
    if (!m_batch) return E_UNEXPECTED;
    plat::RegKeyHandle hive = m_batch;
    m_batch = nullptr;
    return plat::RollbackRegistryBatch(hive) ? S_OK : S_FALSE;
}

} // namespace tavo::registry
