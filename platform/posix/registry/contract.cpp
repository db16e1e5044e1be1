// The registry calls of the contract, on the store's hives.
#include <cstring>

#include "platform/fault.h"
#include "platform/posix/registry/store.h"
#include "platform/posix/registry/folding.h"
#include "platform/utf.h"

namespace tavo::plat {
namespace store {
namespace {

// Access bits that allow a change.
constexpr uint32_t kWriteAccess = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;

/// Does key `id` still exist? Errors count as "exists" so that they surface
/// from the operation itself.
bool Alive(Hive& h, int64_t id, uint32_t* error) {
    *error = kErrorSuccess;
    if (id == kRootId) return true;
    Query q(h, kKeyExists);
    q.Int(1, id);
    if (q.Row()) return true;
    *error = q.Error();
    return *error != kErrorSuccess;
}

/// Walks `levels` down from key `from`. Result: 0 with the id reached; or
/// the error of the first missing level (2, or 1018 when `from` itself is
/// gone). `depth` receives how many levels exist.
uint32_t Walk(Lookups& look, int64_t from, const SubkeyLevels& levels, int64_t* id, size_t* depth) {
    int64_t at = from;
    size_t i = 0;
    for (; i < levels.count; ++i) {
        int64_t child = 0;
        if (uint32_t e = look.Child(at, levels.Name(i), levels.Size(i), &child)) return e;
        if (!child) break;
        at = child;
    }
    *id = at;
    if (depth) *depth = i;
    if (i == 0) {
        bool alive = true;
        if (uint32_t e = look.Alive(from, &alive)) return e;
        if (!alive) return kErrorKeyDeleted;
    }
    return i == levels.count ? kErrorSuccess : kErrorFileNotFound;
}

/// The walk to an existing key answered by the cache alone, as Walk would
/// answer it; false for anything else.
bool CachedWalk(LookupCache& cache, int64_t from, const SubkeyLevels& levels, int64_t* id) {
    if (levels.count == 0) return false;
    int64_t at = from;
    for (size_t i = 0; i < levels.count; ++i) {
        int64_t child = 0;
        if (!cache.KnownChild(at, levels.Name(i), levels.Size(i), &child) || !child) return false;
        at = child;
    }
    *id = at;
    return true;
}

uint32_t OpenOrCreate(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                      uint32_t* disposition, bool create) {
    if (!key) return kErrorInvalidParameter;
    Target t;
    if (uint32_t e = Resolve(parent, &t)) return e;
    SubkeyLevels levels;
    if (uint32_t e = SplitPath(subkey, &levels)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    // A key the cache knows, while nothing was committed anywhere, is opened
    // without a look at the file: the file is checked whenever the database
    // itself is read from the hive root, and before every change.
    if (h.CacheCurrent() && !(h.readOnly && (access & kWriteAccess))) {
        int64_t found = 0;
        if (CachedWalk(h.cache, t.id, levels, &found)) {
            if (disposition) *disposition = kRegOpenedExistingKey;
            return NewHandle(t.hive, found, access, key);
        }
    }
    if (parent == kHKeyLocalMachine || parent == kHKeyCurrentUser) h.Refresh();
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e = kErrorSuccess;
    int64_t id = kRootId;
    size_t depth = 0;
    // Look first, without the write lock: the common case finds everything.
    if (h.SchemaReady(&e)) {
        Lookups look(h);
        e = Walk(look, t.id, levels, &id, &depth);
        if (e && e != kErrorFileNotFound) return e;
    } else if (e) {
        return e;
    } else {
        // Empty hive: only its root exists.
        e = levels.count == 0 ? kErrorSuccess : kErrorFileNotFound;
    }
    if (!e) {
        if (h.readOnly && (access & kWriteAccess)) return kErrorAccessDenied;
        if (disposition) *disposition = kRegOpenedExistingKey;
        return NewHandle(t.hive, id, access, key);
    }
    if (!create) return e;
    h.Refresh();
    if (uint32_t w = h.PrepareWrite()) return w;
    Txn txn(h);
    if (uint32_t b = txn.Begin(true)) return b;
    Lookups direct(h, true);
    e = Walk(direct, t.id, levels, &id, &depth);
    if (e && e != kErrorFileNotFound) return e;
    bool created = false;
    for (size_t i = depth; i < levels.count; ++i) {
        std::string name = utf::Utf16ToUtf8(levels.Name(i), levels.Size(i));
        std::string folded = text::FoldKey(levels.Name(i), levels.Size(i));
        Query q(h, kInsertKey);
        q.Int(1, id).Text(2, name).Blob(3, folded.data(), folded.size());
        q.Row();
        if (q.Error()) return q.Error();
        id = sqlite3_last_insert_rowid(h.db.Get());
        created = true;
    }
    if (uint32_t c = txn.Commit()) return c;
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return NewHandle(t.hive, id, access, key);
}

/// Row `index` of an enumeration statement, or 259 / 1018 at the end.
template <class Fill>
uint32_t EnumAt(RegKeyHandle key, Stmt which, uint32_t index, Fill fill) {
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    if (!h.SchemaReady(&e)) return e ? e : kErrorNoMoreItems;
    Query q(h, which);
    q.Int(1, t.id).Int(2, index);
    if (!q.Row()) {
        if (q.Error()) return q.Error();
        if (!Alive(h, t.id, &e)) return kErrorKeyDeleted;
        return e ? e : kErrorNoMoreItems;
    }
    return fill(q);
}

} // namespace
} // namespace store

using namespace store;

uint32_t RegOpenKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    return OpenOrCreate(parent, subkey, access, key, nullptr, false);
}

uint32_t RegCreateKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                         uint32_t* disposition) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    return OpenOrCreate(parent, subkey, access, key, disposition, true);
}

uint32_t RegCloseKey(RegKeyHandle key) { return store::CloseHandle(key); }

uint32_t RegQueryValueExA(RegKeyHandle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    if (data && !size) return kErrorInvalidParameter;
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    Utf16Name wname;
    if (!ValueName(name, &wname)) return kErrorFileNotFound;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    if (!h.SchemaReady(&e)) return e ? e : kErrorFileNotFound;
    Lookups look(h);
    const ValueEntry* v = nullptr;
    if ((e = look.Value(t.id, wname.data(), wname.size(), &v))) return e;
    if (!v->found) {
        bool alive = true;
        if ((e = look.Alive(t.id, &alive))) return e;
        return alive ? kErrorFileNotFound : kErrorKeyDeleted;
    }
    size_t n = v->data.size();
    if (type) *type = v->type;
    if (data) {
        if (*size < n) {
            *size = uint32_t(n);
            return kErrorMoreData;
        }
        if (n) std::memcpy(data, v->data.data(), n);
    }
    if (size) *size = uint32_t(n);
    return kErrorSuccess;
}

uint32_t RegSetValueExA(RegKeyHandle key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    if (size && !data) return kErrorInvalidParameter;
    Utf16Name wname;
    if (!ValueName(name, &wname)) return kErrorInvalidParameter;
    std::string stored = utf::Utf16ToUtf8(wname.data(), wname.size());
    std::string folded = text::FoldKey(wname.data(), wname.size());
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    h.Refresh();
    if (uint32_t e = h.PrepareWrite()) return e;
    Txn txn(h);
    if (uint32_t e = txn.Begin(true)) return e;
    uint32_t e;
    if (!Alive(h, t.id, &e)) return kErrorKeyDeleted;
    if (e) return e;
    Query q(h, kSetValue);
    q.Int(1, t.id).Text(2, stored).Blob(3, folded.data(), folded.size()).Int(4, type).Blob(5, data, size);
    q.Row();
    if (q.Error()) return q.Error();
    return txn.Commit();
}

uint32_t RegDeleteKeyA(RegKeyHandle parent, const char* subkey) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    Target t;
    if (uint32_t e = Resolve(parent, &t)) return e;
    SubkeyLevels levels;
    if (uint32_t e = SplitPath(subkey, &levels)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    h.Refresh();
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    int64_t id = 0;
    if (!h.SchemaReady(&e)) {
        if (e) return e;
        return levels.count == 0 ? kErrorAccessDenied : kErrorFileNotFound;
    }
    if (h.readOnly) {
        Lookups look(h);
        e = Walk(look, t.id, levels, &id, nullptr);
        return e ? e : kErrorAccessDenied;
    }
    Txn txn(h);
    if ((e = txn.Begin(true))) return e;
    Lookups direct(h, true);
    if ((e = Walk(direct, t.id, levels, &id, nullptr))) return e;
    if (id == kRootId) return kErrorAccessDenied;
    {
        Query q(h, kHasChildren);
        q.Int(1, id);
        if (q.Row()) return kErrorAccessDenied;
        if (q.Error()) return q.Error();
    }
    for (Stmt s : {kDeleteKeyValues, kDeleteKeyRow}) {
        Query q(h, s);
        q.Int(1, id);
        q.Row();
        if (q.Error()) return q.Error();
    }
    return txn.Commit();
}

uint32_t RegDeleteValueA(RegKeyHandle key, const char* name) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    Utf16Name wname;
    if (!ValueName(name, &wname)) return kErrorFileNotFound;
    std::string folded = text::FoldKey(wname.data(), wname.size());
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    h.Refresh();
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    if (!h.SchemaReady(&e)) return e ? e : kErrorFileNotFound;
    if (h.readOnly) return kErrorAccessDenied;
    Txn txn(h);
    if ((e = txn.Begin(true))) return e;
    if (!Alive(h, t.id, &e)) return kErrorKeyDeleted;
    if (e) return e;
    Query q(h, kDeleteValue);
    q.Int(1, t.id).Blob(2, folded.data(), folded.size());
    q.Row();
    if (q.Error()) return q.Error();
    if (sqlite3_changes(h.db.Get()) == 0) return kErrorFileNotFound;
    return txn.Commit();
}

uint32_t RegEnumKeyExA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    if (!name || !nameSize) return kErrorInvalidParameter;
    return EnumAt(key, kEnumKey, index, [&](Query& q) {
        size_t n = 0;
        const uint8_t* p = q.ColBytes(0, &n);
        // A name exactly as long as the buffer comes back unterminated,
        // as the platform's 8-bit call does.
        if (n > *nameSize) return kErrorMoreData;
        if (n) std::memcpy(name, p, n);
        if (n < *nameSize) name[n] = 0;
        *nameSize = uint32_t(n);
        return kErrorSuccess;
    });
}

uint32_t RegEnumValueA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    if (!name || !nameSize || (data && !dataSize)) return kErrorInvalidParameter;
    return EnumAt(key, kEnumValue, index, [&](Query& q) {
        size_t n = 0, d = 0;
        const uint8_t* p = q.ColBytes(0, &n);
        if (n >= *nameSize) return kErrorMoreData;
        const uint8_t* bytes = q.ColBytes(2, &d);
        if (data && *dataSize < d) {
            *dataSize = uint32_t(d);
            return kErrorMoreData;
        }
        if (n) std::memcpy(name, p, n);
        name[n] = 0;
        *nameSize = uint32_t(n);
        if (type) *type = uint32_t(q.ColInt(1));
        if (data && d) std::memcpy(data, bytes, d);
        if (dataSize) *dataSize = uint32_t(d);
        return kErrorSuccess;
    });
}

uint32_t RegQueryInfoKeyA(RegKeyHandle key, uint32_t* subkeys, uint32_t* maxSubkeyLen, uint32_t* values,
                          uint32_t* maxValueNameLen) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    int64_t counts[4] = {0, 0, 0, 0};
    if (h.SchemaReady(&e)) {
        Txn read(h);
        if ((e = read.Begin(false))) return e;
        if (!Alive(h, t.id, &e)) return kErrorKeyDeleted;
        if (e) return e;
        for (int i = 0; i < 2; ++i) {
            Query q(h, i == 0 ? kKeyInfo : kValueInfo);
            q.Int(1, t.id);
            if (!q.Row()) return q.Error() ? q.Error() : kErrorRegistryCorrupt;
            counts[2 * i] = q.ColInt(0);
            counts[2 * i + 1] = q.ColInt(1);
        }
    } else if (e) {
        return e;
    }
    if (subkeys) *subkeys = uint32_t(counts[0]);
    if (maxSubkeyLen) *maxSubkeyLen = uint32_t(counts[1]);
    if (values) *values = uint32_t(counts[2]);
    if (maxValueNameLen) *maxValueNameLen = uint32_t(counts[3]);
    return kErrorSuccess;
}

} // namespace tavo::plat

// Write batches: the hive's connection holds one write transaction open
// (BEGIN IMMEDIATE, so no other writer gets in between), and the store's
// own transactions join it instead of beginning their own (Txn).
namespace tavo::plat {
namespace {

uint32_t BatchHive(RegKeyHandle hive, std::shared_ptr<store::Hive>* out) {
    if (hive != kHKeyLocalMachine && hive != kHKeyCurrentUser) return kErrorInvalidHandle;
    store::Target t;
    if (uint32_t e = store::Resolve(hive, &t)) return e;
    *out = t.hive;
    return kErrorSuccess;
}

uint32_t RunStatement(store::Hive& h, store::Stmt which) {
    store::Query q(h, which);
    q.Row();
    return q.Error();
}

} // namespace

uint32_t BeginRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<store::Hive> p;
    if (uint32_t e = BatchHive(hive, &p)) return e;
    store::Hive& h = *p;
    std::lock_guard<std::mutex> lock(h.mu);
    if (h.batch) return kErrorBusy;
    h.Refresh();
    if (uint32_t e = h.PrepareWrite()) return e;
    h.cache.Drop();
    if (uint32_t e = RunStatement(h, store::kBeginWrite)) return e;
    h.batch = true;
    h.batchFailed = false;
    return kErrorSuccess;
}

uint32_t CommitRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<store::Hive> p;
    if (uint32_t e = BatchHive(hive, &p)) return e;
    store::Hive& h = *p;
    std::lock_guard<std::mutex> lock(h.mu);
    if (!h.batch) return kErrorInvalidParameter;
    h.batch = false;
    h.cache.Drop();
    uint32_t e = h.batchFailed ? kErrorRegistryIoFailed : RunStatement(h, store::kCommit);
    if (e) RunStatement(h, store::kRollback);
    return e;
}

bool RollbackRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<store::Hive> p;
    if (BatchHive(hive, &p)) return false;
    store::Hive& h = *p;
    std::lock_guard<std::mutex> lock(h.mu);
    if (!h.batch) return false;
    h.batch = false;
    h.cache.Drop();
    RunStatement(h, store::kRollback);
    return true;
}

} // namespace tavo::plat
