// Lookup cache: the point lookups of reads (a child key by name, a value by
// name, whether a key still exists) are answered from memory while the
// database is unchanged in every process. Each call first compares the WAL
// index header in the "-shm" file, which every commit rewrites, with the
// header seen when the cache was filled; any difference drops the cache,
// and so does every write of this process. A header whose two copies differ
// (a commit under way, or a writer killed in between) counts as a
// difference. The header is read through this connection's own mapping of
// that file, which stays valid and current while the connection is open: a
// connection in WAL mode keeps a shared lock on the database, so no other
// process can leave WAL mode or reset the index underneath it.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/posix/registry/store.h"
#include "platform/posix/registry/folding.h"

namespace tavo::plat::store {
namespace {

// The WAL index: mapped in pages of this size; it starts with two copies of
// a 48-byte header, whose byte 12 is set once the index is initialised.
constexpr int kWalIndexPage = 32768;
constexpr size_t kWalHeaderIsInit = 12;
// Bounds: entries in all, and the largest value data kept.
constexpr size_t kCacheEntries = 4096;
constexpr size_t kCacheValueBytes = 4096;

} // namespace

bool LookupCache::Enabled() {
    static const bool enabled = [] {
        const char* setting = std::getenv("TAVOCOM_REGISTRY_CACHE");
        return !setting || std::strcmp(setting, "0") != 0;
    }();
    return enabled;
}

bool LookupCache::Attach(sqlite3* db) {
    m_tried = true;
    if (!Enabled() || !sql::InWalMode(db)) return false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
        return false;
    // The region exists already (no extend): this only returns the
    // connection's pointer to it, valid until the connection closes.
    void volatile* region = nullptr;
    if (file->pMethods->xShmMap(file, 0, kWalIndexPage, 0, &region) != SQLITE_OK || !region) return false;
    m_walIndex = static_cast<const volatile uint64_t*>(region);
    return true;
}

void LookupCache::Detach() {
    m_walIndex = nullptr;
    m_tried = false;
    Drop();
}

void LookupCache::ClearEntries() {
    m_children.clear();
    m_values.clear();
    m_alive.clear();
    m_paths.clear();
    m_spelledValues.clear();
}

void LookupCache::Drop() {
    ClearEntries();
    m_seenValid = false;
}

bool LookupCache::Full() const {
    return m_children.size() + m_values.size() + m_alive.size() + m_paths.size() + m_spelledValues.size() >= kCacheEntries;
}

void LookupCache::MakeRoom() {
    if (Full()) ClearEntries();
}

// The header, when both copies agree. A commit writes the second copy and
// then the first, so reading the first, then the second, sees a difference
// while a commit is under way or after a writer died in between.
bool LookupCache::ReadHeader(uint64_t* out) const {
    for (size_t i = 0; i < kHeaderWords; ++i) out[i] = m_walIndex[i];
    std::atomic_thread_fence(std::memory_order_acquire);
    for (size_t i = 0; i < kHeaderWords; ++i)
        if (m_walIndex[kHeaderWords + i] != out[i]) return false;
    return reinterpret_cast<const uint8_t*>(out)[kWalHeaderIsInit] != 0;
}

bool LookupCache::Current() const {
    if (!m_walIndex || !m_seenValid) return false;
    uint64_t now[kHeaderWords];
    return ReadHeader(now) && std::memcmp(now, m_seen, sizeof now) == 0;
}

// The header the cache is filled against is taken before the transaction's
// snapshot: a commit in between leaves the cache older than the header it
// notes and so makes the next check fail, never pass.
bool LookupCache::PrepareFill() {
    if (!m_walIndex) return false;
    uint64_t now[kHeaderWords];
    if (!ReadHeader(now)) {
        Drop();
        return false;
    }
    if (!m_seenValid || std::memcmp(now, m_seen, sizeof now) != 0) {
        ClearEntries();
        std::memcpy(m_seen, now, sizeof now);
        m_seenValid = true;
    }
    return true;
}

void LookupCache::SetKey(int64_t id, const char16_t* name, size_t n) {
    m_key.resize(sizeof id);
    std::memcpy(m_key.data(), &id, sizeof id);
    text::AppendFoldKey(name, n, &m_key);
}

void LookupCache::SetSpelled(int64_t id, const char* text, size_t n) {
    m_spelled.resize(sizeof id);
    std::memcpy(m_spelled.data(), &id, sizeof id);
    m_spelled.append(text, n);
}

bool LookupCache::KnownPath(int64_t parent, const char* path, size_t n, int64_t* id, uint32_t* levels) {
    SetSpelled(parent, path, n);
    auto it = m_paths.find(m_spelled);
    if (it == m_paths.end()) return false;
    *id = it->second.first;
    *levels = it->second.second;
    return true;
}

void LookupCache::NotePath(int64_t parent, const char* path, size_t n, int64_t id, uint32_t levels) {
    MakeRoom();
    SetSpelled(parent, path, n);
    m_paths.emplace(m_spelled, std::make_pair(id, levels));
}

bool LookupCache::KnownChild(int64_t parent, const char16_t* name, size_t n, int64_t* id) {
    SetKey(parent, name, n);
    auto it = m_children.find(m_key);
    if (it == m_children.end()) return false;
    *id = it->second;
    return true;
}

// ---------------------------------------------------------------------------
// The lookups of one call.

// Inside a write batch every lookup reads the batch's own, uncommitted state.
Lookups::Lookups(Hive& hive, bool direct)
    : m_hive(hive), m_cache(hive.Cache()), m_txn(hive), m_direct(direct || hive.InBatch()) {
    m_cached = !m_direct && m_cache.Current();
}

uint32_t Lookups::Child(int64_t parent, const char16_t* name, size_t n, int64_t* id) {
    m_cache.SetKey(parent, name, n);
    if (m_cached) {
        auto it = m_cache.m_children.find(m_cache.m_key);
        if (it != m_cache.m_children.end()) {
            *id = it->second;
            return kErrorSuccess;
        }
    }
    if (uint32_t e = Start()) return e;
    Query q(m_hive, kFindChild);
    q.Int(1, parent).Blob(2, Folded(), FoldedSize());
    *id = q.Row() ? q.ColInt(0) : 0;
    if (uint32_t e = q.Error()) return e;
    if (Filling()) {
        m_cache.MakeRoom();
        m_cache.m_children.emplace(m_cache.m_key, *id);
    }
    return kErrorSuccess;
}

uint32_t Lookups::Alive(int64_t id, bool* alive) {
    *alive = true;
    if (id == kRootId) return kErrorSuccess;
    if (m_cached) {
        auto it = m_cache.m_alive.find(id);
        if (it != m_cache.m_alive.end()) {
            *alive = it->second;
            return kErrorSuccess;
        }
    }
    if (uint32_t e = Start()) return e;
    Query q(m_hive, kKeyExists);
    q.Int(1, id);
    *alive = q.Row();
    if (uint32_t e = q.Error()) return e;
    if (Filling()) {
        m_cache.MakeRoom();
        m_cache.m_alive.emplace(id, *alive);
    }
    return kErrorSuccess;
}

bool Lookups::KnownValue(int64_t key, const char* name, const ValueEntry** out) {
    if (!m_cached) return false;
    m_cache.SetSpelled(key, name ? name : "", name ? std::strlen(name) : 0);
    auto it = m_cache.m_spelledValues.find(m_cache.m_spelled);
    if (it == m_cache.m_spelledValues.end()) return false;
    *out = it->second;
    return true;
}

void Lookups::NoteValue(int64_t key, const char* name) {
    // Only while there is room: making room would drop the entry itself,
    // which the caller still reads.
    if (!m_cachedValue || m_cache.Full()) return;
    const ValueEntry* entry = m_cachedValue;
    m_cache.SetSpelled(key, name ? name : "", name ? std::strlen(name) : 0);
    m_cache.m_spelledValues.emplace(m_cache.m_spelled, entry);
}

uint32_t Lookups::Value(int64_t key, const char16_t* name, size_t n, const ValueEntry** out) {
    m_cachedValue = nullptr;
    m_cache.SetKey(key, name, n);
    if (m_cached) {
        auto it = m_cache.m_values.find(m_cache.m_key);
        if (it != m_cache.m_values.end()) {
            *out = m_cachedValue = &it->second;
            return kErrorSuccess;
        }
    }
    if (uint32_t e = Start()) return e;
    Query q(m_hive, kGetValue);
    q.Int(1, key).Blob(2, Folded(), FoldedSize());
    m_value.found = q.Row();
    if (uint32_t e = q.Error()) return e;
    m_value.type = 0;
    m_value.data.clear();
    if (m_value.found) {
        size_t size = 0;
        const uint8_t* bytes = q.ColBytes(1, &size);
        m_value.type = uint32_t(q.ColInt(0));
        if (size) m_value.data.assign(reinterpret_cast<const char*>(bytes), size);
    }
    *out = &m_value;
    if (Filling() && m_value.data.size() <= kCacheValueBytes) {
        m_cache.MakeRoom();
        *out = m_cachedValue = &m_cache.m_values.insert_or_assign(m_cache.m_key, m_value).first->second;
    }
    return kErrorSuccess;
}

uint32_t Lookups::Start() {
    if (m_started || m_direct) return kErrorSuccess;
    m_started = true;
    m_fill = m_cache.PrepareFill();
    return m_txn.Begin(false);
}

// After a read in the transaction: whether its answer goes into the cache.
// A new connection of a writable hive looks for the index here, once, and
// starts caching with the next transaction; it holds the shared-lock range
// from then on, cache or not. A read-only connection may run without a
// shared index file, so it never caches.
bool Lookups::Filling() {
    if (m_direct) return false;
    m_cache.AttachOnce(m_hive);
    return m_fill;
}

void LookupCache::AttachOnce(Hive& hive) {
    if (m_tried || hive.ReadOnly() || !hive.HasSchema()) return;
    Attach(hive.Db());
    hive.TakeSharedLock();
}

} // namespace tavo::plat::store
