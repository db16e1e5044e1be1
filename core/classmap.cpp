#include "core/classmap.h"

#include "core/object.h"
#include "memory/memory.h"
#include "registry/registry.h"

namespace tavo::core {
namespace {

// Map order is fixed: registry, category manager, memory, decoder binder.
// Each class enters the map with its subsystem.
const ClassMapEntry kClassMap[] = {
    {&COM_CLSID_Registry, &registry::g_registryFactory, nullptr, NoCategories},
    // CCatMgr
    {&COM_CLSID_Memory, &memory::g_memoryClassFactory, nullptr, NoCategories},
    // CHResultDecoderBinder
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

const ClassMapEntry* ClassMap() noexcept { return kClassMap; }

const _COM_GUID* const* NoCategories() noexcept { return nullptr; }

} // namespace tavo::core
