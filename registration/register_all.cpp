#include "registration/registration.h"

namespace tavo::registration {

COM_HRESULT RegisterAllClasses(const core::ClassMapEntry* map, int32_t flag) {
    com_registration_detail::Pass pass(flag);
    for (const core::ClassMapEntry* e = map; e->clsid; ++e) {
        if (e->registerFn) pass.ClassDone(e->registerFn(flag));
        const _COM_GUID* const* categories = e->categoriesFn();
        if (!categories) continue;
        pass.ClassCategories(*e->clsid, [categories](auto each) {
            for (const _COM_GUID* const* category = categories; *category; ++category) each(**category, nullptr);
        });
    }
    return pass.Finish();
}

} // namespace tavo::registration
