#include "core/classmap.h"

#include "core/object.h"

namespace tavo::core {
namespace {

// Map order is fixed: registry, category manager, memory, decoder binder.
// Each class enters the map with its subsystem.
const ClassMapEntry kClassMap[] = {
    // CRegistry
    // CCatMgr
    // CMemory
    // CHResultDecoderBinder
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

const ClassMapEntry* ClassMap() noexcept { return kClassMap; }

const _COM_GUID* const* NoCategories() noexcept { return nullptr; }

} // namespace tavo::core
