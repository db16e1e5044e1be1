#include "registration/registration.h"

namespace tavo::registration {

COM_HRESULT RegisterAllClasses(const core::ClassMapEntry* map, int32_t flag) {
    COM_HRESULT result = S_OK;
    // Cleared for the rest of the pass by the first class that stays
    // registered at unregistration.
    bool removeCategories = true;
    utlAutoIf<COM_ICatRegister> manager;
    for (const core::ClassMapEntry* e = map; e->clsid; ++e) {
        if (e->registerFn) {
            COM_HRESULT hr = e->registerFn(flag);
            if (COM_FAILED(hr)) result = S_FALSE;
            if (!flag && hr == S_FALSE) removeCategories = false;
        }
        const _COM_GUID* const* categories = e->categoriesFn();
        if (!categories) continue;
        if (!manager.Get()) {
            COM_HRESULT hr = COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatRegister, manager.PutVoid());
            if (COM_FAILED(hr)) result = S_FALSE;
            if (!manager.Get()) continue;
        }
        for (const _COM_GUID* const* category = categories; *category; ++category) {
            COM_HRESULT hr = S_OK;
            if (flag)
                hr = manager->RegisterClassImplCategory(**category, *e->clsid);
            else if (removeCategories)
                hr = manager->UnRegisterClassImplCategory(**category, *e->clsid);
            if (COM_FAILED(hr)) result = S_FALSE;
        }
    }
    return result;
}

} // namespace tavo::registration
