#include "core/classmap.h"

#include "core/module.h"
#include "core/object.h"
#include "categories/catmgr.h"
#include "decoding/binder.h"
#include "memory/memory.h"
#include "registration/registration.h"
#include "registry/registry.h"

namespace tavo::core {
namespace {

// Map order is fixed: registry, category manager, memory, decoder binder.
// Each class enters the map with its subsystem.
const ClassMapEntry kClassMap[] = {
    {&COM_CLSID_Registry, &registry::g_registryFactory, registration::RegisterRegistryClass, NoCategories},
    {&COM_CLSID_CategoryManager, &categories::g_catMgrFactory, registration::RegisterCategoryManagerClass,
     NoCategories},
    {&COM_CLSID_Memory, &memory::g_memoryClassFactory, registration::RegisterMemoryClass, NoCategories},
    {&COM_CLSID_HResultDecoderBinder, &decoding::g_binderFactory, registration::RegisterDecoderBinderClass,
     NoCategories},
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

const ClassMapEntry* ClassMap() noexcept { return kClassMap; }

const _COM_GUID* const* NoCategories() noexcept { return nullptr; }

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
