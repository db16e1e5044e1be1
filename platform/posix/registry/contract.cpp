// The registry calls of the contract, on the store's hives.
#include <cstring>

#include "platform/fault.h"
#include "platform/posix/registry/folding.h"
#include "platform/posix/registry/store.h"
#include "platform/utf.h"

namespace tavo::plat {
namespace store {
namespace {

// Access bits that allow a change.
constexpr uint32_t kWriteAccess = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;

} // namespace

uint32_t KeyCall::Resolve(RegKeyHandle key) {
    if (Injected(Fault::Store)) return kErrorRegistryIoFailed;
    return store::Resolve(key, &m_target);
}

Hive& KeyCall::Locked() {
    if (!m_lock) m_lock = std::unique_lock<std::mutex>(m_target.hive->Mutex());
    return *m_target.hive;
}

uint32_t KeyCall::Read(bool* ready) {
    Hive& h = Locked();
    *ready = false;
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    *ready = h.SchemaReady(&e);
    return e;
}

uint32_t KeyCall::ReadForChange(bool* ready) {
    Hive& h = Locked();
    h.Refresh();
    uint32_t e = Read(ready);
    // A hive read alone for want of room is changed through the usual
    // connection, or not at all.
    if (!e && *ready && h.ReadAlone()) e = h.PrepareWrite();
    return e;
}

uint32_t KeyCall::Write() {
    Hive& h = Locked();
    h.Refresh();
    return h.PrepareWrite();
}

bool KeyAlive(Hive& h, int64_t id, uint32_t* error) {
    *error = kErrorSuccess;
    if (id == kRootId) return true;
    Query q(h, kKeyExists);
    q.Int(1, id);
    if (q.Row()) return true;
    *error = q.Error();
    return *error != kErrorSuccess;
}

namespace {

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
    KeyCall call;
    if (uint32_t e = call.Resolve(parent)) return e;
    const Target& t = call.target();
    Hive& h = call.Locked();
    // A key the cache knows, while nothing was committed anywhere, is opened
    // without a look at the file: the file is checked whenever the database
    // itself is read from the hive root, and before every change.
    const bool cached = h.CacheCurrent() && !(h.ReadOnly() && (access & kWriteAccess));
    const size_t spelled = subkey ? std::strlen(subkey) : 0;
    if (cached && spelled) {
        int64_t found = 0;
        uint32_t down = 0;
        if (h.Cache().KnownPath(t.id, subkey, spelled, &found, &down)) {
            if (disposition) *disposition = kRegOpenedExistingKey;
            return NewHandle(t.hive, found, t.depth + down, access, key);
        }
    }
    SubkeyLevels levels;
    if (uint32_t e = SplitPath(subkey, &levels)) return e;
    const uint32_t depth = t.depth + uint32_t(levels.count);
    if (cached) {
        int64_t found = 0;
        if (CachedWalk(h.Cache(), t.id, levels, &found)) {
            h.Cache().NotePath(t.id, subkey, spelled, found, uint32_t(levels.count));
            if (disposition) *disposition = kRegOpenedExistingKey;
            return NewHandle(t.hive, found, depth, access, key);
        }
    }
    if (parent == kHKeyLocalMachine || parent == kHKeyCurrentUser) h.Refresh();
    bool ready = false;
    uint32_t e = call.Read(&ready);
    if (e) return e;
    int64_t id = kRootId;
    size_t existing = 0;
    // Look first, without the write lock: the common case finds everything.
    if (ready) {
        Lookups look(h);
        e = Walk(look, t.id, levels, &id, &existing);
        if (e && e != kErrorFileNotFound) return e;
    } else {
        // Empty hive: only its root exists.
        e = levels.count == 0 ? kErrorSuccess : kErrorFileNotFound;
    }
    if (!e) {
        if (h.ReadOnly() && (access & kWriteAccess)) return kErrorAccessDenied;
        if (disposition) *disposition = kRegOpenedExistingKey;
        return NewHandle(t.hive, id, depth, access, key);
    }
    if (!create) return e;
    // The platform's registry makes no key deeper than this, and names no
    // error for it: refused as a parameter it cannot take.
    if (depth > kMaxDepth) return kErrorInvalidParameter;
    if (uint32_t w = call.Write()) return w;
    Txn txn(h);
    if (uint32_t b = txn.Begin(true)) return b;
    Lookups direct(h, true);
    e = Walk(direct, t.id, levels, &id, &existing);
    if (e && e != kErrorFileNotFound) return e;
    bool created = false;
    for (size_t i = existing; i < levels.count; ++i) {
        std::string name = utf::Utf16ToUtf8(levels.Name(i), levels.Size(i));
        std::string folded = text::FoldKey(levels.Name(i), levels.Size(i));
        Query q(h, kInsertKey);
        q.Int(1, id).Text(2, name).Blob(3, folded.data(), folded.size());
        if (uint32_t r = q.Run()) return r;
        id = q.InsertedId();
        created = true;
    }
    if (uint32_t c = txn.Commit()) return c;
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return NewHandle(t.hive, id, depth, access, key);
}

} // namespace
} // namespace store

using namespace store;

uint32_t RegOpenKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key) {
    return OpenOrCreate(parent, subkey, access, key, nullptr, false);
}

uint32_t RegCreateKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                         uint32_t* disposition) {
    return OpenOrCreate(parent, subkey, access, key, disposition, true);
}

uint32_t RegCloseKey(RegKeyHandle key) { return store::CloseHandle(key); }

uint32_t RegQueryValueExA(RegKeyHandle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
    if (data && !size) return kErrorInvalidParameter;
    KeyCall call;
    if (uint32_t e = call.Resolve(key)) return e;
    bool ready = false;
    if (uint32_t e = call.Read(&ready)) return e;
    Lookups look(call.Locked());
    const int64_t id = call.target().id;
    const ValueEntry* v = nullptr;
    // A name spelled as in an earlier lookup is answered without converting
    // and folding it again.
    if (!ready || !look.KnownValue(id, name, &v)) {
        Utf16Name wname;
        if (!ValueName(name, &wname)) return kErrorFileNotFound;
        if (!ready) return kErrorFileNotFound;
        if (uint32_t e = look.Value(id, wname.data(), wname.size(), &v)) return e;
        look.NoteValue(id, name);
    }
    if (!v->found) {
        bool alive = true;
        if (uint32_t e = look.Alive(id, &alive)) return e;
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
    KeyCall call;
    if (uint32_t e = call.Resolve(key)) return e;
    const Target& t = call.target();
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    if (size && !data) return kErrorInvalidParameter;
    Utf16Name wname;
    if (!ValueName(name, &wname)) return kErrorInvalidParameter;
    std::string stored = utf::Utf16ToUtf8(wname.data(), wname.size());
    std::string folded = text::FoldKey(wname.data(), wname.size());
    if (uint32_t e = call.Write()) return e;
    Hive& h = call.Locked();
    Txn txn(h);
    if (uint32_t e = txn.Begin(true)) return e;
    uint32_t e;
    if (!KeyAlive(h, t.id, &e)) return kErrorKeyDeleted;
    if (e) return e;
    Query q(h, kSetValue);
    q.Int(1, t.id).Text(2, stored).Blob(3, folded.data(), folded.size()).Int(4, type).Blob(5, data, size);
    if ((e = q.Run())) return e;
    return txn.Commit();
}

uint32_t RegDeleteKeyA(RegKeyHandle parent, const char* subkey) {
    KeyCall call;
    if (uint32_t e = call.Resolve(parent)) return e;
    SubkeyLevels levels;
    if (uint32_t e = SplitPath(subkey, &levels)) return e;
    bool ready = false;
    uint32_t e = call.ReadForChange(&ready);
    if (e) return e;
    if (!ready) return levels.count == 0 ? kErrorAccessDenied : kErrorFileNotFound;
    Hive& h = call.Locked();
    const int64_t from = call.target().id;
    int64_t id = 0;
    if (h.ReadOnly()) {
        Lookups look(h);
        e = Walk(look, from, levels, &id, nullptr);
        return e ? e : kErrorAccessDenied;
    }
    Txn txn(h);
    if ((e = txn.Begin(true))) return e;
    Lookups direct(h, true);
    if ((e = Walk(direct, from, levels, &id, nullptr))) return e;
    if (id == kRootId) return kErrorAccessDenied;
    {
        Query q(h, kHasChildren);
        q.Int(1, id);
        if (q.Row()) return kErrorAccessDenied;
        if (q.Error()) return q.Error();
    }
    for (Stmt s : {kDeleteKeyValues, kDeleteKeyRow}) {
        Query q(h, s);
        if ((e = q.Int(1, id).Run())) return e;
    }
    return txn.Commit();
}

uint32_t RegDeleteValueA(RegKeyHandle key, const char* name) {
    KeyCall call;
    if (uint32_t e = call.Resolve(key)) return e;
    const Target& t = call.target();
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    Utf16Name wname;
    if (!ValueName(name, &wname)) return kErrorFileNotFound;
    std::string folded = text::FoldKey(wname.data(), wname.size());
    bool ready = false;
    uint32_t e = call.ReadForChange(&ready);
    if (e) return e;
    if (!ready) return kErrorFileNotFound;
    Hive& h = call.Locked();
    if (h.ReadOnly()) return kErrorAccessDenied;
    Txn txn(h);
    if ((e = txn.Begin(true))) return e;
    if (!KeyAlive(h, t.id, &e)) return kErrorKeyDeleted;
    if (e) return e;
    Query q(h, kDeleteValue);
    if ((e = q.Int(1, t.id).Blob(2, folded.data(), folded.size()).Run())) return e;
    if (q.Changes() == 0) return kErrorFileNotFound;
    return txn.Commit();
}

uint32_t RegQueryInfoKeyA(RegKeyHandle key, uint32_t* subkeys, uint32_t* maxSubkeyLen, uint32_t* values,
                          uint32_t* maxValueNameLen) {
    KeyCall call;
    if (uint32_t e = call.Resolve(key)) return e;
    bool ready = false;
    if (uint32_t e = call.Read(&ready)) return e;
    int64_t counts[4] = {0, 0, 0, 0};
    if (ready) {
        Hive& h = call.Locked();
        const int64_t id = call.target().id;
        Txn read(h);
        uint32_t e;
        if ((e = read.Begin(false))) return e;
        if (!KeyAlive(h, id, &e)) return kErrorKeyDeleted;
        if (e) return e;
        for (int i = 0; i < 2; ++i) {
            Query q(h, i == 0 ? kKeyInfo : kValueInfo);
            q.Int(1, id);
            if (!q.Row()) return q.Error() ? q.Error() : kErrorRegistryCorrupt;
            counts[2 * i] = q.ColInt(0);
            counts[2 * i + 1] = q.ColInt(1);
        }
    }
    if (subkeys) *subkeys = uint32_t(counts[0]);
    if (maxSubkeyLen) *maxSubkeyLen = uint32_t(counts[1]);
    if (values) *values = uint32_t(counts[2]);
    if (maxValueNameLen) *maxValueNameLen = uint32_t(counts[3]);
    return kErrorSuccess;
}

namespace {

/// The hive of a write batch: one of the two predefined keys.
uint32_t BatchHive(RegKeyHandle hive, std::shared_ptr<Hive>* out) {
    if (hive != kHKeyLocalMachine && hive != kHKeyCurrentUser) return kErrorInvalidHandle;
    Target t;
    if (uint32_t e = store::Resolve(hive, &t)) return e;
    *out = t.hive;
    return kErrorSuccess;
}

} // namespace

uint32_t BeginRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<Hive> h;
    if (uint32_t e = BatchHive(hive, &h)) return e;
    std::lock_guard<std::mutex> lock(h->Mutex());
    return h->BeginBatch();
}

uint32_t CommitRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<Hive> h;
    if (uint32_t e = BatchHive(hive, &h)) return e;
    std::lock_guard<std::mutex> lock(h->Mutex());
    return h->CommitBatch();
}

bool RollbackRegistryBatch(RegKeyHandle hive) {
    std::shared_ptr<Hive> h;
    if (BatchHive(hive, &h)) return false;
    std::lock_guard<std::mutex> lock(h->Mutex());
    return h->RollbackBatch();
}

} // namespace tavo::plat
