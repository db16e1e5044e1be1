// Module-wide state of the library.
#ifndef TAVOCOM_CORE_MODULE_H
#define TAVOCOM_CORE_MODULE_H

#include "platform/platform.h"

namespace tavo::core {

/// Objects alive with at least one reference plus factory references held.
/// Atomic: the only value of the library changed from several threads.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
uint32_t ModuleCount() noexcept;

/// Handle the platform loaded this library under; set once on attach,
/// read-only afterwards.
plat::ModuleHandle InstanceHandle() noexcept;

/// The statistics pair reported by COM_GetSysStats. Unguarded.
struct SysStats {
    uint32_t first = 0;
    uint32_t second = 0;
};
SysStats& Stats() noexcept;

} // namespace tavo::core

#endif
