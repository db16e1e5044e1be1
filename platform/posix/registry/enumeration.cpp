// The walks by index over a key's subkeys and values (RegEnumKeyExA,
// RegEnumValueA). The platform call asks for one item at a time, and each
// answer must be the item at that index as the key is then. A handle keeps
// where its last call stopped (EnumCursor), so that a walk reads each item
// once instead of counting from the start at every step:
//
// - the items read ahead in the last call's transaction answer while the
//   WAL index header has not moved since and this process changed
//   nothing: no SQL, no system call;
// - otherwise a read transaction goes on from the last item read, by
//   its folded name, while SQLite's data version (commits of other
//   connections) and the hive's generation (this process's changes and
//   reconnections) are those it was read under;
// - otherwise it counts from the first item.
#include <cstring>

#include "platform/posix/registry/store.h"

namespace tavo::plat {
namespace store {
namespace {

// Items read ahead per transaction, and the value data kept with them.
constexpr int64_t kReadAhead = 64;
constexpr size_t kReadAheadBytes = 64 * 1024;

/// One item, as a call fills its caller's buffers from it.
struct ItemView {
    const uint8_t* name;
    size_t nameSize;
    uint32_t type;
    const uint8_t* data;
    size_t dataSize;
};

ItemView View(const EnumCursor::Item& item) {
    return {reinterpret_cast<const uint8_t*>(item.name.data()), item.name.size(), item.type,
            reinterpret_cast<const uint8_t*>(item.data.data()), item.data.size()};
}

/// The items of the last call still answer: index among them, nothing
/// committed anywhere since they were read.
bool AheadAnswers(Hive& h, const EnumCursor& c, uint32_t index) {
    if (c.ahead.empty() || !c.valid || c.generation != h.Generation() || index < c.index ||
        index - c.index >= c.ahead.size())
        return false;
    uint64_t now[kWalHeaderWords];
    return h.Cache().Header(now) && std::memcmp(now, c.header, sizeof now) == 0;
}

/// Item `index` of a key's subkeys or values, handed to `fill`, or 259 /
/// 1018 past the end.
template <class Fill>
uint32_t EnumAt(RegKeyHandle key, bool values, uint32_t index, Fill fill) {
    KeyCall call;
    if (uint32_t e = call.Resolve(key)) return e;
    bool ready = false;
    if (uint32_t e = call.Read(&ready)) return e;
    if (!ready) return kErrorNoMoreItems;
    Hive& h = call.Locked();
    const int64_t id = call.target().id;
    EnumCursor cursor;
    TakeCursor(key, values, &cursor);
    if (AheadAnswers(h, cursor, index)) {
        const uint32_t result = fill(View(cursor.ahead[index - cursor.index]));
        KeepCursor(key, values, &cursor);
        return result;
    }
    // Taken before the transaction's snapshot: a commit in between leaves
    // the items older than the header noted, which then fails the check.
    const bool ahead = h.Cache().Header(cursor.header);
    Txn read(h);
    if (uint32_t e = read.Begin(false)) return e;
    h.Cache().AttachOnce(h);
    int64_t version = 0;
    {
        Query v(h, kDataVersion);
        if (!v.Row()) return v.Error() ? v.Error() : kErrorRegistryCorrupt;
        version = v.ColInt(0);
    }
    const bool onward = cursor.valid && cursor.generation == h.Generation() && cursor.dataVersion == version &&
                        index >= cursor.index;
    Query q(h, values ? kEnumValue : kEnumKey);
    if (onward) q.Int(1, id).Blob(2, cursor.folded.data(), cursor.folded.size()).Int(3, index - cursor.index);
    else q.Int(1, id).Blob(2, "", 0).Int(3, index);
    q.Int(4, ahead ? kReadAhead : 1);
    if (!q.Row()) {
        if (q.Error()) return q.Error();
        uint32_t e;
        if (!KeyAlive(h, id, &e)) return kErrorKeyDeleted;
        return e ? e : kErrorNoMoreItems;
    }
    size_t n = 0;
    const uint8_t* folded = q.ColBytes(1, &n);
    cursor.folded.assign(reinterpret_cast<const char*>(folded), n);
    cursor.index = index;
    cursor.generation = h.Generation();
    cursor.dataVersion = version;
    cursor.valid = true;
    cursor.ahead.clear();
    ItemView first{};
    first.name = q.ColBytes(0, &first.nameSize);
    first.type = values ? uint32_t(q.ColInt(2)) : 0;
    first.data = values ? q.ColBytes(3, &first.dataSize) : nullptr;
    const uint32_t result = fill(first);
    if (ahead) {
        // From the first item on, so that a repeated index is answered too.
        size_t bytes = 0;
        bool more = true;
        for (; more; more = q.Row()) {
            size_t nameSize = 0, dataSize = 0;
            const uint8_t* name = q.ColBytes(0, &nameSize);
            const uint8_t* data = values ? q.ColBytes(3, &dataSize) : nullptr;
            bytes += nameSize + dataSize;
            if (bytes > kReadAheadBytes) break;
            EnumCursor::Item& item = cursor.ahead.emplace_back();
            item.name.assign(reinterpret_cast<const char*>(name), nameSize);
            item.type = values ? uint32_t(q.ColInt(2)) : 0;
            if (dataSize) item.data.assign(reinterpret_cast<const char*>(data), dataSize);
        }
        if (q.Error()) cursor.ahead.clear();
    }
    KeepCursor(key, values, &cursor);
    return result;
}

} // namespace
} // namespace store

using namespace store;

uint32_t RegEnumKeyExA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize) {
    if (!name || !nameSize) return kErrorInvalidParameter;
    return EnumAt(key, false, index, [&](const ItemView& item) {
        const size_t n = item.nameSize;
        // A name exactly as long as the buffer comes back unterminated,
        // as the platform's 8-bit call does.
        if (n > *nameSize) return kErrorMoreData;
        if (n) std::memcpy(name, item.name, n);
        if (n < *nameSize) name[n] = 0;
        *nameSize = uint32_t(n);
        return kErrorSuccess;
    });
}

uint32_t RegEnumValueA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize) {
    if (!name || !nameSize || (data && !dataSize)) return kErrorInvalidParameter;
    return EnumAt(key, true, index, [&](const ItemView& item) {
        const size_t n = item.nameSize, d = item.dataSize;
        if (n >= *nameSize) return kErrorMoreData;
        if (data && *dataSize < d) {
            *dataSize = uint32_t(d);
            return kErrorMoreData;
        }
        if (n) std::memcpy(name, item.name, n);
        name[n] = 0;
        *nameSize = uint32_t(n);
        if (type) *type = item.type;
        if (data && d) std::memcpy(data, item.data, d);
        if (dataSize) *dataSize = uint32_t(d);
        return kErrorSuccess;
    });
}

} // namespace tavo::plat
