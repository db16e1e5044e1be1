// The component category manager: categories and their member classes under
// ComponentCategories of the class root.
#ifndef TAVOCOM_CATEGORIES_CATMGR_H
#define TAVOCOM_CATEGORIES_CATMGR_H

#include <tavocom/tavocom.h>

#include "core/object.h"

namespace tavo::categories {

/// COM_ICatRegister (first interface) and COM_ICatInformation on one object
/// with one count. Works through a registry object renewed before every
/// write and before GetCategoryDesc; the enumerators share the one held
/// when they are made.
class CCatMgr final : public COM_CComObjectRoot,
                      public COM_CComCoClass<CCatMgr, &COM_CLSID_CategoryManager>,
                      public COM_ICatRegister,
                      public COM_ICatInformation {
public:
    CCatMgr() noexcept = default;
    CCatMgr(const CCatMgr&) = delete;
    CCatMgr& operator=(const CCatMgr&) = delete;
    virtual ~CCatMgr() = default;

    /// Obtains the first registry object; run by the class factory.
    COM_HRESULT FinalConstruct() noexcept { return Renew(); }

    // One QueryInterface, AddRef and Release serve both interfaces.
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    COM_HRESULT RegisterCategory(const _COM_GUID& category, const COM_WCHAR* description) override;
    COM_HRESULT RegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) override;
    COM_HRESULT UnRegisterCategory(const _COM_GUID& category) override;
    COM_HRESULT UnRegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) override;

    COM_HRESULT EnumCategories(COM_IEnumCATEGORYINFO** out) override;
    COM_HRESULT EnumClassesOfCategory(const _COM_GUID& category, COM_IEnumCLSID** out) override;
    COM_HRESULT GetCategoryDesc(const _COM_GUID& category, COM_BSTR* description) override;

private:
    /// Drops the held registry object and obtains a new one; on failure
    /// none is held.
    COM_HRESULT Renew() noexcept;

    uint32_t m_refCount = 0;
    utlAutoIf<COM_IRegistry> m_registry;
};

/// The class object of CCatMgr in the class object map.
extern COM_CClassFactory<CCatMgr> g_catMgrFactory;

} // namespace tavo::categories

#endif
