#include "categories/name_list_enumerator.h"

namespace tavo::categories {

COM_HRESULT ReadSubkeyNames(COM_IRegistry* registry, NameList& names) {
    return core::Guarded([&] {
        utlAutoIf<COM_IEnumBSTR> keys;
        core::Check(registry->EnumKeys(keys.Put()));
        for (;;) {
            COM_BSTR batch[3] = {};
            uint32_t given = 0;
            COM_HRESULT hr = keys->Next(3, batch, &given);
            // Every name given is owned before anything can fail.
            plat::OwnedBstr owned[3];
            for (uint32_t i = 0; i < given && i < 3; ++i) owned[i].Reset(batch[i]);
            for (uint32_t i = 0; i < given && i < 3; ++i) names.push_back(std::move(owned[i]));
            core::Check(hr);
            if (hr == S_FALSE) return S_OK;
        }
    });
}

NameList CopyNames(const NameList& names) {
    NameList copies;
    copies.reserve(names.size());
    for (const plat::OwnedBstr& name : names) {
        plat::OwnedBstr copy;
        if (name) {
            copy.Reset(plat::SysAllocStringLen(name.Get(), plat::SysStringLen(name.Get())));
            if (!copy) core::Raise(E_OUTOFMEMORY);
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

} // namespace tavo::categories
