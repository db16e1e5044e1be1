// Key handles, and the names they are used with: subkey paths split into
// levels, value names, each with the platform's limits.
#include <cstring>
#include <new>

#include "platform/posix/registry/store.h"
#include "platform/utf.h"

namespace tavo::plat::store {
namespace {

// Name limits as the platform's 8-bit calls apply them.
constexpr size_t kMaxSubkeyArgument = SubkeyLevels::kMaxArgument;
constexpr size_t kMaxSubkeyArgumentHard = 32766;
constexpr size_t kMaxKeyComponent = 256;
constexpr size_t kMaxValueName = 16383;

// Handle values are multiples of four, like the platform's. Each names a
// slot of the table and the use of that slot it was made for; a slot's use
// count only grows, so no value is handed out twice and a stale handle
// cannot reach a newer key.
constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kHandleStep = 4;
constexpr unsigned kSlotBits = 24;
constexpr uintptr_t kSlotMask = (uintptr_t(1) << kSlotBits) - 1;

/// The open handles. A handle is looked up here before anything is read
/// through it, so a closed or foreign value is refused without being
/// followed. A slot and its place on the free list are made together, so
/// closing a handle never allocates, and opening one only when the table
/// grows.
struct HandleTable {
    struct Slot {
        uintptr_t use = 0; // the count of handles made in this slot
        bool open = false;
        Target target;
        EnumCursor cursors[2]; // subkeys, values
    };
    std::mutex mu; // guards everything below
    std::vector<Slot> slots;
    std::vector<uint32_t> unused;

    Slot* Find(RegKeyHandle h) {
        const uintptr_t v = reinterpret_cast<uintptr_t>(h);
        if (v < kFirstHandle || (v - kFirstHandle) % kHandleStep != 0) return nullptr;
        const uintptr_t n = (v - kFirstHandle) / kHandleStep;
        const uintptr_t index = n & kSlotMask;
        if (index >= slots.size()) return nullptr;
        Slot& slot = slots[index];
        return slot.open && slot.use == (n >> kSlotBits) ? &slot : nullptr;
    }
};

HandleTable& Handles() {
    // Never destroyed: keys may still be closed while the process exits.
    static HandleTable* const table = new HandleTable;
    return *table;
}

bool Predefined(RegKeyHandle h) { return h == kHKeyLocalMachine || h == kHKeyCurrentUser; }

} // namespace

uint32_t Resolve(RegKeyHandle h, Target* t) {
    if (Predefined(h)) {
        t->hive = HiveFor(h == kHKeyLocalMachine);
        t->id = kRootId;
        t->depth = 0;
        t->access = kKeyAllAccess;
        return kErrorSuccess;
    }
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    HandleTable::Slot* slot = table.Find(h);
    if (!slot) return kErrorInvalidHandle;
    *t = slot->target;
    return kErrorSuccess;
}

uint32_t NewHandle(const std::shared_ptr<Hive>& hive, int64_t id, uint32_t depth, uint32_t access,
                   RegKeyHandle* out) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    if (table.unused.empty()) {
        if (table.slots.size() > kSlotMask) return kErrorOutOfMemory;
        try {
            table.slots.emplace_back();
            try {
                table.unused.reserve(table.slots.capacity());
            } catch (const std::bad_alloc&) {
                table.slots.pop_back();
                throw;
            }
        } catch (const std::bad_alloc&) {
            return kErrorOutOfMemory;
        }
        table.unused.push_back(uint32_t(table.slots.size() - 1));
    }
    const uint32_t index = table.unused.back();
    table.unused.pop_back();
    HandleTable::Slot& slot = table.slots[index];
    slot.open = true;
    slot.target = Target{hive, id, depth, access};
    for (EnumCursor& c : slot.cursors) c.valid = false;
    *out = reinterpret_cast<RegKeyHandle>(kFirstHandle + kHandleStep * ((slot.use << kSlotBits) | index));
    return kErrorSuccess;
}

uint32_t CloseHandle(RegKeyHandle h) {
    if (Predefined(h)) return kErrorSuccess;
    Target closed; // let go after the lock: the last handle into a hive closes its connection
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    HandleTable::Slot* slot = table.Find(h);
    if (!slot) return kErrorInvalidHandle;
    closed = std::move(slot->target);
    slot->open = false;
    ++slot->use;
    table.unused.push_back(uint32_t(slot - table.slots.data())); // room reserved with the slot
    return kErrorSuccess;
}

void TakeCursor(RegKeyHandle h, bool values, EnumCursor* out) {
    out->valid = false;
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    if (HandleTable::Slot* slot = table.Find(h)) std::swap(*out, slot->cursors[values]);
}

void KeepCursor(RegKeyHandle h, bool values, EnumCursor* cursor) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mu);
    if (HandleTable::Slot* slot = table.Find(h)) std::swap(*cursor, slot->cursors[values]);
}

void Utf16Name::Assign(const char* utf8, size_t n) {
    m_heap.clear();
    m_size = utf::Utf8ToUtf16(utf8, n, m_small, kSmall);
    if (m_size > kSmall) m_heap = utf::Utf8ToUtf16(utf8, n);
}

uint32_t SplitPath(const char* subkey, SubkeyLevels* levels) {
    levels->count = 0;
    if (!subkey) return kErrorSuccess;
    char16_t* const all = levels->text;
    // A short ASCII path, the common case, is measured, checked and widened
    // in plain loops the compiler vectorises, and its separators are found
    // in the narrow text; anything else is converted whole.
    const size_t length = strnlen(subkey, kMaxSubkeyArgument + 1);
    unsigned bits = 0;
    if (length <= kMaxSubkeyArgument)
        for (size_t i = 0; i < length; ++i) bits |= static_cast<unsigned char>(subkey[i]);
    const bool ascii = length <= kMaxSubkeyArgument && bits < 0x80;
    size_t size = length;
    if (ascii) {
        for (size_t i = 0; i < length; ++i) all[i] = char16_t(static_cast<unsigned char>(subkey[i]));
    } else {
        size = utf::Utf8ToUtf16(subkey, std::strlen(subkey), all, SubkeyLevels::kMaxArgument);
        if (size > kMaxSubkeyArgumentHard) return kErrorInvalidParameter;
        if (size > kMaxSubkeyArgument) return kErrorMoreData;
    }
    if (size > 0 && all[0] == u'\\') return kErrorBadPathname;
    auto separatorFrom = [&](size_t at) {
        if (ascii) {
            const void* found = std::memchr(subkey + at, '\\', size - at);
            return found ? size_t(static_cast<const char*>(found) - subkey) : size;
        }
        while (at < size && all[at] != u'\\') ++at;
        return at;
    };
    size_t start = 0;
    while (start <= size) {
        const size_t end = separatorFrom(start);
        if (end > start) {
            if (end - start > kMaxKeyComponent) return kErrorInvalidParameter;
            levels->level[levels->count++] = {uint16_t(start), uint16_t(end - start)};
        }
        start = end + 1;
    }
    return kErrorSuccess;
}

bool ValueName(const char* name, Utf16Name* out) {
    if (name) out->Assign(name, std::strlen(name));
    return out->size() <= kMaxValueName;
}

} // namespace tavo::plat::store
