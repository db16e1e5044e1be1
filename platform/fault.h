// Fault injection at the platform boundary, for test builds only: with
// TAVOCOM_FAULT_INJECTION defined, each backend call that can fail for want
// of a resource first asks the test program (its exported function
// "tavocom_fault_point") whether this one must fail. Without it the check
// is a constant and costs nothing.
#ifndef TAVOCOM_PLATFORM_FAULT_H
#define TAVOCOM_PLATFORM_FAULT_H

namespace tavo::plat {

/// What a fault point stands for.
enum class Fault : int {
    Memory = 1,        ///< strings and task memory
    Store = 2,         ///< registry store I/O
    Loader = 3,        ///< loading a library, finding an entry point
    VirtualMemory = 4, ///< reserving and committing address space
    DiskFull = 5,      ///< a registry store write that takes room on the disk
};

#ifdef TAVOCOM_FAULT_INJECTION
bool Injected(Fault kind) noexcept;
#else
constexpr bool Injected(Fault) noexcept { return false; }
#endif

} // namespace tavo::plat

#endif
