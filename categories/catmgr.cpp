#include "categories/catmgr.h"

#include "categories/enumerators.h"
#include "core/activation.h"
#include "core/raise.h"
#include "core/utility.h"

namespace tavo::categories {

COM_CClassFactory<CCatMgr> g_catMgrFactory;

namespace {

using core::Check;

// The identifier's text form, owned by the caller.
utlAutoBstr Text(const _COM_GUID& id) {
    utlAutoBstr text;
    Check(core::CLSIDToString(id, text.Put()));
    return text;
}

} // namespace

COM_HRESULT CCatMgr::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {
        {&COM_IID_ICatRegister, static_cast<COM_ICatRegister*>(this)},
        {&COM_IID_ICatInformation, static_cast<COM_ICatInformation*>(this)},
    };
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CCatMgr::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CCatMgr::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CCatMgr::Renew() noexcept {
    m_registry.Reset(nullptr);
    return core::CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, m_registry.PutVoid());
}

COM_HRESULT CCatMgr::RegisterCategory(const _COM_GUID& category, const COM_WCHAR* description) {
    return core::Guarded([&] {
        utlAutoBstr cat = Text(category);
        Check(Renew());
        Check(m_registry->Open(COM_REGROOT_CLASSES, COM_TEXT("")));
        Check(m_registry->CreateKey(COM_KEY_CATEGORIES, 1));
        Check(m_registry->CreateKey(cat.Get(), 1));
        Check(m_registry->SetStringValue(COM_TEXT(""), description));
        return m_registry->Close();
    });
}

COM_HRESULT CCatMgr::RegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) {
    return core::Guarded([&] {
        utlAutoBstr cat = Text(category);
        utlAutoBstr cls = Text(clsid);
        Check(Renew());
        Check(m_registry->Open(COM_REGROOT_CLASSES, COM_TEXT("")));
        Check(m_registry->CreateKey(COM_KEY_CATEGORIES, 1));
        Check(m_registry->CreateKey(cat.Get(), 1));
        Check(m_registry->CreateKey(cls.Get(), 1));
        return m_registry->Close();
    });
}

COM_HRESULT CCatMgr::UnRegisterCategory(const _COM_GUID& category) {
    return core::Guarded([&] {
        utlAutoBstr cat = Text(category);
        Check(Renew());
        Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES}));
        Check(m_registry->DeleteKey(cat.Get()));
        return m_registry->Close();
    });
}

// The category key stays, also when its last class goes.
COM_HRESULT CCatMgr::UnRegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) {
    return core::Guarded([&] {
        utlAutoBstr cat = Text(category);
        utlAutoBstr cls = Text(clsid);
        Check(Renew());
        Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES, cat.Get()}));
        Check(m_registry->DeleteKey(cls.Get()));
        return m_registry->Close();
    });
}

COM_HRESULT CCatMgr::GetCategoryDesc(const _COM_GUID& category, COM_BSTR* description) {
    if (!description) return E_POINTER;
    return core::Guarded([&] {
        utlAutoBstr cat = Text(category);
        Check(Renew());
        Check(COM_OpenClassRootPath(m_registry.Get(), {COM_TEXT(""), COM_KEY_CATEGORIES, cat.Get()}));
        Check(m_registry->GetStringValue(COM_TEXT(""), description));
        return m_registry->Close();
    });
}

// Neither enumeration renews: the enumerator shares the registry object the
// manager holds. Without one (a renewal failed) nothing is handed out.
COM_HRESULT CCatMgr::EnumCategories(COM_IEnumCATEGORYINFO** out) {
    if (!out) return E_POINTER;
    if (!m_registry) return E_UNEXPECTED;
    return core::Guarded([&] {
        return core::CreateObjectWith<CCatEnumerator>(
            [&](CCatEnumerator& e) { return e.Initialize(m_registry.Get()); }, COM_IID_IEnumCATEGORYINFO,
            reinterpret_cast<void**>(out));
    });
}

COM_HRESULT CCatMgr::EnumClassesOfCategory(const _COM_GUID& category, COM_IEnumCLSID** out) {
    if (!out) return E_POINTER;
    if (!m_registry) return E_UNEXPECTED;
    return core::Guarded([&] {
        return core::CreateObjectWith<CClsidEnumerator>(
            [&](CClsidEnumerator& e) { return e.Initialize(category, m_registry.Get()); }, COM_IID_IEnumCLSID,
            reinterpret_cast<void**>(out));
    });
}

} // namespace tavo::categories
