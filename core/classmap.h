// The class object map: the classes implemented inside this library.
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

} // namespace tavo::core

#endif
