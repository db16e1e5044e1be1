// Virtual memory: reserving address space, backing parts of it with memory
// on demand, and giving both back. Same names, arguments and results as the
// platform's calls; only the subset below is offered.
#ifndef TAVOCOM_PLATFORM_VMEM_H
#define TAVOCOM_PLATFORM_VMEM_H

#include <tavocom/types.h>

namespace tavo::plat {

// Allocation types and the one protection the runtime uses, with the
// platform's published values.
inline constexpr uint32_t kMemCommit = 0x1000;
inline constexpr uint32_t kMemReserve = 0x2000;
inline constexpr uint32_t kMemDecommit = 0x4000;
inline constexpr uint32_t kMemRelease = 0x8000;
inline constexpr uint32_t kPageReadWrite = 0x04;

/// Granularity of reservation addresses.
inline constexpr size_t kAllocationGranularity = 0x10000;

/// kMemReserve: reserves address space without memory behind it, at
/// `address` rounded down to kAllocationGranularity (null: anywhere),
/// never over an existing mapping. kMemCommit: backs pages of an existing
/// reservation with readable and writable memory. Returns the start of the
/// range, or null when the system refuses (size 0, range taken, no memory).
void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) noexcept;

/// kMemDecommit: gives the memory behind pages of a reservation back to
/// the system, keeping the addresses reserved. kMemRelease (size 0, address
/// the start of a reservation): gives up the whole reservation. False when
/// the range is not one the call accepts.
bool VirtualFree(void* address, size_t size, uint32_t type) noexcept;

} // namespace tavo::plat

#endif
