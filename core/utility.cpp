#include "core/utility.h"

#include "core/classmap.h"
#include "core/module.h"
#include "platform/platform.h"

namespace tavo::core {

COM_HRESULT CLSIDToString(const _COM_GUID& id, COM_BSTR* text) noexcept {
    COM_WCHAR* taskText = nullptr;
    COM_HRESULT hr = plat::StringFromCLSID(id, &taskText);
    if (COM_FAILED(hr)) return hr;
    *text = plat::SysAllocString(taskText);
    plat::CoTaskMemFree(taskText);
    return hr;
}

COM_IClassFactory* FindClassFactory(const _COM_GUID& clsid) noexcept {
    for (const ClassMapEntry* e = ClassMap(); e->clsid; ++e)
        if (*e->clsid == clsid) return e->factory;
    return nullptr;
}

COM_HRESULT GetClassObject(const _COM_GUID& clsid, const _COM_GUID& iid, void** out) noexcept {
    COM_IClassFactory* factory = FindClassFactory(clsid);
    return factory ? factory->QueryInterface(iid, out) : CLASS_E_CLASSNOTAVAILABLE;
}

COM_HRESULT CanUnloadNow() noexcept { return ModuleCount() == 0 ? S_OK : S_FALSE; }

} // namespace tavo::core
