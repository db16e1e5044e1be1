// The registry service object: a cursor over the product's registry keys.
#ifndef TAVOCOM_REGISTRY_REGISTRY_H
#define TAVOCOM_REGISTRY_REGISTRY_H

#include <tavocom/tavocom.h>

#include <string>

#include "core/ansi.h"
#include "core/object.h"
#include "platform/registry.h"

namespace tavo::registry {

class CRegistry final : public COM_CComObjectRoot,
                        public COM_CComCoClass<CRegistry, &COM_CLSID_Registry>,
                        public COM_IRegistry,
                        public COM_IRegistryBatch {
public:
    CRegistry() noexcept = default;
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;
    virtual ~CRegistry(); // drops a batch not committed; the key owner closes the current key

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT Open(uint32_t root, const COM_WCHAR* subkey) override;
    COM_HRESULT Close() override;
    COM_HRESULT OpenKey(const COM_WCHAR* name) override;
    COM_HRESULT CreateKey(const COM_WCHAR* name, int32_t enter) override;
    COM_HRESULT DeleteKey(const COM_WCHAR* name) override;
    COM_HRESULT SetStringValue(const COM_WCHAR* name, const COM_WCHAR* text) override;
    COM_HRESULT GetStringValue(const COM_WCHAR* name, COM_BSTR* text) override;
    COM_HRESULT SetDWordValue(const COM_WCHAR* name, uint32_t value) override;
    COM_HRESULT GetDWordValue(const COM_WCHAR* name, uint32_t* value) override;
    COM_HRESULT DeleteValue(const COM_WCHAR* name) override;
    COM_HRESULT EnumKeys(COM_IEnumBSTR** out) override;
    COM_HRESULT EnumValues(COM_IEnumBSTR** out) override;
    COM_HRESULT Begin(uint32_t root) override;
    COM_HRESULT Commit() override;
    COM_HRESULT Rollback() override;

private:
    uint32_t m_refCount = 0;
    plat::RegKeyHandle m_batch = nullptr;        // hive of the batch this object began; null: none
    plat::RegKey m_current;                      // the cursor; empty when none
    uint32_t m_access = plat::kKeyAllAccess;     // rights for keys below the cursor
};

/// The class object of CRegistry in the class object map.
extern COM_CClassFactory<CRegistry> g_registryFactory;

/// Creates a registry object without going through activation.
COM_HRESULT CreateRegistryObject(COM_IRegistry** out) noexcept;

/// Status of a platform registry error number (0 stays success).
inline COM_HRESULT StatusFromPlatform(uint32_t error) noexcept {
    return error == 0 ? S_OK : COM_STATUS_FROM_WIN32(error);
}

/// The hive of root selector `root` and the path below the version key
/// (empty or "\\Classes" ...); false for an unknown selector.
bool RootHive(uint32_t root, plat::RegKeyHandle* hive, const char** suffix) noexcept;

/// Appends the version key of the product's registry roots, read from
/// COM_VERSION at every call. False when the variable is too long to be read.
bool ResolveVersionKey(core::ShortText* key);

} // namespace tavo::registry

#endif
