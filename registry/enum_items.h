// The string enumerator over the names of a key's subkeys or values.
#ifndef TAVOCOM_REGISTRY_ENUM_ITEMS_H
#define TAVOCOM_REGISTRY_ENUM_ITEMS_H

#include <tavocom/tavocom.h>

#include <vector>

#include "platform/platform.h"

namespace tavo::registry {

/// A fixed list of names with a position. Holds its own copies and no
/// registry key, so it outlives the registry object that made it.
class CRegEnumItems final : public COM_IEnumBSTR {
public:
    using Items = std::vector<plat::OwnedBstr>;
    /// Takes over the names, any of them null.
    CRegEnumItems(Items items, uint32_t position) noexcept;
    CRegEnumItems(const CRegEnumItems&) = delete;
    CRegEnumItems& operator=(const CRegEnumItems&) = delete;
    virtual ~CRegEnumItems() = default;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT GetCount(uint32_t* count) override;
    COM_HRESULT GetPosition(uint32_t* position) override;
    COM_HRESULT SetPosition(uint32_t position) override;
    COM_HRESULT Next(uint32_t wanted, COM_BSTR* items, uint32_t* fetched) override;
    COM_HRESULT Skip(uint32_t steps) override;
    COM_HRESULT SeekEnd() override;
    COM_HRESULT Reset() override;
    COM_HRESULT Clone(COM_IEnumBSTR** out) override;

private:
    uint32_t m_refCount = 0;
    uint32_t m_position;
    Items m_items;
};

/// Builds an enumerator of the subkey names (`values` false) or value
/// names of `key`, at position 0.
COM_HRESULT EnumerateNames(plat::RegKeyHandle key, bool values, COM_IEnumBSTR** out) noexcept;

} // namespace tavo::registry

#endif
