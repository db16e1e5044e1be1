// Virtual memory on mmap. Two ways of providing committed memory:
//
// Lazy (where the system overcommits): a reservation is a readable and
// writable private mapping with no memory reserved behind it, committing
// is bookkeeping, and a page is backed on its first write, as the platform
// backs committed pages. No system call per commit step.
//
// Guarded (where the system does not overcommit, and in the sanitizer
// build or with TAVOCOM_VMEM_GUARD=1): a reservation is an inaccessible
// mapping and committing makes pages of it accessible, so that a stray
// access outside committed memory traps.
//
// Decommitting gives the memory behind the pages back to the system. The
// one exception is a small cache of released reservations: the arena
// allocator destroys its arena and reserves one of the same size at every
// reset, and the next arena is then served on warm pages instead of a page
// fault per page. So memory is never promised to be zeroed.
#include "platform/vmem.h"

#include "platform/fault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace tavo::plat {
namespace {

// The reservations made here, start -> length. Release needs the length,
// and commit and decommit must stay inside one reservation as they do on
// Windows. Guarded by g_lock, with everything below it: the platform keeps
// this table for the whole process, so memory objects used by different
// threads reach it at once.
std::mutex g_lock;
std::map<uintptr_t, size_t> g_reservations;

// A decommit whose pages are given back at the next call, unless that call
// releases the same reservation into the cache: decommit and release come
// in pairs when an arena is destroyed.
struct PendingDecommit {
    uintptr_t reservation = 0; // 0: none
    uintptr_t start = 0;
    size_t length = 0;
} g_pending;

// Released reservations kept mapped for reuse, bounded in number and size.
struct Cached {
    uintptr_t start;
    size_t length;
};
constexpr size_t kCacheEntries = 4;
constexpr size_t kCacheBytes = size_t(256) << 20;
std::vector<Cached> g_cache;
size_t g_cachedBytes = 0;

uintptr_t PageSize() noexcept {
    static const uintptr_t size = uintptr_t(sysconf(_SC_PAGESIZE));
    return size;
}

// Whether the system backs memory only when touched without having
// promised it first (overcommit policy 0 or 1).
bool SystemOvercommits() noexcept {
    std::FILE* f = std::fopen("/proc/sys/vm/overcommit_memory", "re");
    if (!f) return false;
    int policy = 2;
    if (std::fscanf(f, "%d", &policy) != 1) policy = 2;
    std::fclose(f);
    return policy != 2;
}

#ifdef TAVOCOM_VMEM_GUARD
constexpr bool kAlwaysGuarded = true;
#else
constexpr bool kAlwaysGuarded = false;
#endif

bool Lazy() noexcept {
    static const bool lazy = [] {
        const char* guard = std::getenv("TAVOCOM_VMEM_GUARD");
        return !kAlwaysGuarded && !(guard && *guard && *guard != '0') && SystemOvercommits();
    }();
    return lazy;
}

// value rounded up to a multiple of align (a power of two); false if that
// does not fit.
bool RoundUp(uintptr_t value, uintptr_t align, uintptr_t* out) noexcept {
    if (value > UINTPTR_MAX - (align - 1)) return false;
    *out = (value + align - 1) & ~(align - 1);
    return true;
}

void* MapReservation(uintptr_t address, size_t length, int flags) noexcept {
    return mmap(reinterpret_cast<void*>(address), length, Lazy() ? PROT_READ | PROT_WRITE : PROT_NONE,
                MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | flags, -1, 0);
}

// Gives the memory behind a range of a reservation back to the system.
bool GiveBack(uintptr_t start, size_t length) noexcept {
    if (Lazy()) return madvise(reinterpret_cast<void*>(start), length, MADV_DONTNEED) == 0;
    // Inside our own reservation, so replacing the mapping is safe.
    return MapReservation(start, length, MAP_FIXED) != MAP_FAILED;
}

// Caller holds g_lock; every call but a release into the cache does this
// first.
void FlushPending() noexcept {
    if (g_pending.reservation == 0) return;
    GiveBack(g_pending.start, g_pending.length);
    g_pending = PendingDecommit{};
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

// A cached reservation of exactly `length`, taken out of the cache.
uintptr_t FromCache(size_t length) noexcept {
    for (size_t i = 0; i < g_cache.size(); ++i) {
        if (g_cache[i].length != length) continue;
        uintptr_t start = g_cache[i].start;
        g_cachedBytes -= length;
        g_cache[i] = g_cache.back();
        g_cache.pop_back();
        return start;
    }
    return 0;
}

// Unmaps cached reservations that overlap [start, end): a reservation asked
// for at a particular address must not find the cache in its way.
void EvictOverlapping(uintptr_t start, uintptr_t end) noexcept {
    for (size_t i = 0; i < g_cache.size();) {
        const Cached c = g_cache[i];
        if (c.start < end && start < c.start + c.length) {
            munmap(reinterpret_cast<void*>(c.start), c.length);
            g_cachedBytes -= c.length;
            g_cache[i] = g_cache.back();
            g_cache.pop_back();
        } else {
            ++i;
        }
    }
}

void* Reserve(uintptr_t address, size_t size) noexcept {
    const uintptr_t page = PageSize();
    uintptr_t start = 0;
    uintptr_t length = 0;
    std::lock_guard<std::mutex> hold(g_lock);
    FlushPending();
    if (address != 0) {
        // As on Windows: the start goes down to the granularity, the end up
        // to a page, and the lowest granule is never handed out.
        start = address & ~uintptr_t(kAllocationGranularity - 1);
        uintptr_t end = 0;
        if (start == 0 || size > UINTPTR_MAX - address || !RoundUp(address + size, page, &end)) return nullptr;
        length = end - start;
        EvictOverlapping(start, end);
        void* got = MapReservation(start, length, MAP_FIXED_NOREPLACE);
        if (got == MAP_FAILED) return nullptr;
        // Kernels without the flag take the address as a mere hint.
        if (reinterpret_cast<uintptr_t>(got) != start) {
            munmap(got, length);
            return nullptr;
        }
    } else {
        if (!RoundUp(size, page, &length) || length > UINTPTR_MAX - kAllocationGranularity) return nullptr;
        start = FromCache(length);
        if (start == 0) {
            // Map more than needed and trim both ends to get the alignment.
            const uintptr_t span = length + kAllocationGranularity - page;
            void* got = MapReservation(0, span, 0);
            if (got == MAP_FAILED) return nullptr;
            const uintptr_t first = reinterpret_cast<uintptr_t>(got);
            start = (first + kAllocationGranularity - 1) & ~uintptr_t(kAllocationGranularity - 1);
            if (start != first) munmap(got, start - first);
            const uintptr_t tail = first + span - (start + length);
            if (tail != 0) munmap(reinterpret_cast<void*>(start + length), tail);
        }
    }
    try {
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
    FlushPending();
    if (Owner(start, end - start) == g_reservations.end()) return nullptr;
    if (!Lazy() && mprotect(reinterpret_cast<void*>(start), end - start, PROT_READ | PROT_WRITE) != 0) return nullptr;
    return reinterpret_cast<void*>(start);
}

bool Release(uintptr_t address) noexcept {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_reservations.find(address);
    if (it == g_reservations.end()) {
        FlushPending();
        return false;
    }
    const size_t length = it->second;
    if (g_pending.reservation != address) FlushPending();
    g_reservations.erase(it);
    if (Lazy() && g_cache.size() < kCacheEntries && length <= kCacheBytes - g_cachedBytes) {
        try {
            g_cache.push_back(Cached{address, length});
            g_cachedBytes += length;
            g_pending = PendingDecommit{};
            return true;
        } catch (...) {
        }
    }
    g_pending = PendingDecommit{};
    munmap(reinterpret_cast<void*>(address), length);
    return true;
}

bool Decommit(uintptr_t address, size_t size) noexcept {
    const uintptr_t page = PageSize();
    std::lock_guard<std::mutex> hold(g_lock);
    FlushPending();
    uintptr_t start = 0;
    uintptr_t end = 0;
    std::map<uintptr_t, size_t>::iterator owner;
    if (size == 0) {
        // Size 0 means the whole reservation, named by its start.
        owner = g_reservations.find(address);
        if (owner == g_reservations.end()) return false;
        start = owner->first;
        end = start + owner->second;
    } else {
        start = address & ~(page - 1);
        if (size > UINTPTR_MAX - address || !RoundUp(address + size, page, &end)) return false;
        owner = Owner(start, end - start);
        if (owner == g_reservations.end()) return false;
    }
    if (!Lazy()) return GiveBack(start, end - start);
    g_pending = PendingDecommit{owner->first, start, size_t(end - start)};
    return true;
}

} // namespace

void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) noexcept {
    if (size == 0 || protect != kPageReadWrite || Injected(Fault::VirtualMemory)) return nullptr;
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
