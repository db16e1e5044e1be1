// The class object map: the classes implemented inside this library, and
// the entry points that search it.
#ifndef TAVOCOM_CORE_CLASSMAP_H
#define TAVOCOM_CORE_CLASSMAP_H

#include <tavocom/tavocom.h>

namespace tavo::core {

/// Registration function of a class: nonzero flag registers, zero removes.
using RegisterFn = COM_HRESULT (*)(int32_t flag);
/// Category function: null or a null-terminated list of category ids.
using CategoriesFn = const _COM_GUID* const* (*)();

struct ClassMapEntry {
    const _COM_GUID* clsid;
    COM_IClassFactory* factory;
    RegisterFn registerFn; // may be null
    CategoriesFn categoriesFn;
};

/// The map, terminated by an entry whose fields are all null. Read-only.
const ClassMapEntry* ClassMap() noexcept;

/// Category function of every class of this library: no categories.
const _COM_GUID* const* NoCategories() noexcept;

/// The static factory of a class of the map, or null.
COM_IClassFactory* FindClassFactory(const _COM_GUID& clsid) noexcept;
/// The library entry point: the factory of a class of the map as `iid`.
COM_HRESULT GetClassObject(const _COM_GUID& clsid, const _COM_GUID& iid, void** out) noexcept;
/// S_OK when no object and no factory reference is alive.
COM_HRESULT CanUnloadNow() noexcept;

} // namespace tavo::core

#endif
