// Virtual memory on mmap: a reservation is an inaccessible private mapping
// that takes no memory; committing makes pages of it readable and writable,
// decommitting maps fresh inaccessible pages over them, which hands their
// memory back to the system.
#include "platform/vmem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace tavo::plat {
namespace {

// The reservations made here, start -> length. Release needs the length,
// and commit and decommit must stay inside one reservation as they do on
// Windows. Guarded by g_lock: the platform keeps this table for the whole
// process, so memory objects used by different threads reach it at once.
std::mutex g_lock;
std::map<uintptr_t, size_t> g_reservations;

uintptr_t PageSize() noexcept {
    static const uintptr_t size = uintptr_t(sysconf(_SC_PAGESIZE));
    return size;
}

// value rounded up to a multiple of align (a power of two); false if that
// does not fit.
bool RoundUp(uintptr_t value, uintptr_t align, uintptr_t* out) noexcept {
    if (value > UINTPTR_MAX - (align - 1)) return false;
    *out = (value + align - 1) & ~(align - 1);
    return true;
}

void* MapInaccessible(uintptr_t address, size_t length, int flags) noexcept {
    return mmap(reinterpret_cast<void*>(address), length, PROT_NONE,
                MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | flags, -1, 0);
}

// [start, start + length) in one reservation: the reservation's entry, or
// the map's end. Caller holds g_lock.
std::map<uintptr_t, size_t>::iterator Owner(uintptr_t start, uintptr_t length) {
    auto it = g_reservations.upper_bound(start);
    if (it == g_reservations.begin()) return g_reservations.end();
    --it;
    uintptr_t offset = start - it->first;
    if (offset > it->second || length > it->second - offset) return g_reservations.end();
    return it;
}

void* Reserve(uintptr_t address, size_t size) noexcept {
    const uintptr_t page = PageSize();
    uintptr_t start = 0;
    uintptr_t length = 0;
    if (address != 0) {
        // As on Windows: the start goes down to the granularity, the end up
        // to a page, and the lowest granule is never handed out.
        start = address & ~uintptr_t(kAllocationGranularity - 1);
        uintptr_t end = 0;
        if (start == 0 || size > UINTPTR_MAX - address || !RoundUp(address + size, page, &end)) return nullptr;
        length = end - start;
        void* got = MapInaccessible(start, length, MAP_FIXED_NOREPLACE);
        if (got == MAP_FAILED) return nullptr;
        // Kernels without the flag take the address as a mere hint.
        if (reinterpret_cast<uintptr_t>(got) != start) {
            munmap(got, length);
            return nullptr;
        }
    } else {
        if (!RoundUp(size, page, &length) || length > UINTPTR_MAX - kAllocationGranularity) return nullptr;
        // Map more than needed and trim both ends to get the alignment.
        const uintptr_t span = length + kAllocationGranularity - page;
        void* got = MapInaccessible(0, span, 0);
        if (got == MAP_FAILED) return nullptr;
        const uintptr_t first = reinterpret_cast<uintptr_t>(got);
        start = (first + kAllocationGranularity - 1) & ~uintptr_t(kAllocationGranularity - 1);
        if (start != first) munmap(got, start - first);
        const uintptr_t tail = first + span - (start + length);
        if (tail != 0) munmap(reinterpret_cast<void*>(start + length), tail);
    }
    try {
        std::lock_guard<std::mutex> hold(g_lock);
        g_reservations.emplace(start, length);
    } catch (...) {
        munmap(reinterpret_cast<void*>(start), length);
        return nullptr;
    }
    return reinterpret_cast<void*>(start);
}

void* Commit(uintptr_t address, size_t size) noexcept {
    const uintptr_t page = PageSize();
    const uintptr_t start = address & ~(page - 1);
    uintptr_t end = 0;
    if (size > UINTPTR_MAX - address || !RoundUp(address + size, page, &end)) return nullptr;
    std::lock_guard<std::mutex> hold(g_lock);
    if (Owner(start, end - start) == g_reservations.end()) return nullptr;
    if (mprotect(reinterpret_cast<void*>(start), end - start, PROT_READ | PROT_WRITE) != 0) return nullptr;
    // Committed memory is backed at once, as the platform's commit charges
    // it: one call fills the range instead of a page fault on each page's
    // first write. Contents already there are kept. Where the kernel lacks
    // this advice, pages are backed on first write as before.
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    return reinterpret_cast<void*>(start);
}

bool Release(uintptr_t address) noexcept {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_reservations.find(address);
    if (it == g_reservations.end()) return false;
    munmap(reinterpret_cast<void*>(it->first), it->second);
    g_reservations.erase(it);
    return true;
}

bool Decommit(uintptr_t address, size_t size) noexcept {
    const uintptr_t page = PageSize();
    std::lock_guard<std::mutex> hold(g_lock);
    uintptr_t start = 0;
    uintptr_t end = 0;
    if (size == 0) {
        // Size 0 means the whole reservation, named by its start.
        auto it = g_reservations.find(address);
        if (it == g_reservations.end()) return false;
        start = it->first;
        end = start + it->second;
    } else {
        start = address & ~(page - 1);
        if (size > UINTPTR_MAX - address || !RoundUp(address + size, page, &end)) return false;
        if (Owner(start, end - start) == g_reservations.end()) return false;
    }
    // Inside our own reservation, so replacing the mapping is safe.
    return MapInaccessible(start, end - start, MAP_FIXED) != MAP_FAILED;
}

} // namespace

void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) noexcept {
    if (size == 0 || protect != kPageReadWrite) return nullptr;
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    switch (type) {
    case kMemReserve:
        return Reserve(at, size);
    case kMemCommit:
        if (at != 0) return Commit(at, size);
        [[fallthrough]]; // no address: reserve and commit in one go
    case kMemReserve | kMemCommit: {
        void* start = Reserve(at, size);
        if (start && !Commit(reinterpret_cast<uintptr_t>(start), size)) {
            Release(reinterpret_cast<uintptr_t>(start));
            return nullptr;
        }
        return start;
    }
    default:
        return nullptr;
    }
}

bool VirtualFree(void* address, size_t size, uint32_t type) noexcept {
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    if (type == kMemRelease) return size == 0 && Release(at);
    if (type == kMemDecommit) return Decommit(at, size);
    return false;
}

} // namespace tavo::plat
