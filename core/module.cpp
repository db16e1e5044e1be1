#include "core/module.h"

#include <atomic>

namespace tavo::core {
namespace {

std::atomic<uint32_t> g_moduleCount{0}; // atomic
plat::ModuleHandle g_instance = nullptr; // written once on attach
SysStats g_stats;                        // unguarded

} // namespace

void ModuleLock() noexcept { g_moduleCount.fetch_add(1, std::memory_order_relaxed); }
void ModuleUnlock() noexcept { g_moduleCount.fetch_sub(1, std::memory_order_acq_rel); }
uint32_t ModuleCount() noexcept { return g_moduleCount.load(std::memory_order_acquire); }

plat::ModuleHandle InstanceHandle() noexcept { return g_instance; }
SysStats& Stats() noexcept { return g_stats; }

void OnProcessAttach(plat::ModuleHandle self) noexcept { g_instance = self; }

} // namespace tavo::core
