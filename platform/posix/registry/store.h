// What the files of the registry store share. The store keeps one SQLite
// database file per hive, shared by every process of the user:
//
//   hive.cpp          a hive file and this process's connection to it
//   statements.cpp    all SQL: the statements, queries, transactions and
//                     write batches
//   lookup_cache.cpp  point lookups answered from memory while nothing changed
//   locations.cpp     where the hive files are, and the hives in use
//   handles.cpp       key handles (with their enumeration cursors), subkey
//                     paths and value names
//   folding.cpp       case folding: how names compare and sort
//   errors.cpp        errno and SQLite results as Win32 error numbers
//   fault_vfs.cpp     a full disk, made up for tests
//   contract.cpp      the registry calls of platform/registry.h
//   enumeration.cpp   their walks by index
//
// Field guards: every field of a Hive is guarded by its Mutex(); the handle
// table and the table of hives have a mutex each. A Hive's fields are
// private: each file reaches them through the methods it owns.
#ifndef TAVOCOM_PLATFORM_POSIX_REGISTRY_STORE_H
#define TAVOCOM_PLATFORM_POSIX_REGISTRY_STORE_H

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"
#include "platform/unique_handle.h"

namespace tavo::plat::store {

/// Id of a hive's root key.
constexpr int64_t kRootId = 1;
/// The WAL index header (two copies of it start the "-shm" file), in words.
constexpr size_t kWalHeaderWords = 48 / sizeof(uint64_t);

// ---------------------------------------------------------------------------
// Errors (errors.cpp): the only place where system and SQLite results become
// the Win32 error numbers the logic expects.

uint32_t FromErrno(int e);
uint32_t FromSqlite(int rc);

// ---------------------------------------------------------------------------
// The VFS (fault_vfs.cpp): SQLite's default (null), or in test builds a
// layer that makes the disk look full when the fault hook says so.

const char* StoreVfs();

// ---------------------------------------------------------------------------
// Owners.

using Connection = UniqueHandle<sqlite3*, &sqlite3_close>;
using Statement = UniqueHandle<sqlite3_stmt*, &sqlite3_finalize>;
using FileDescriptor = UniqueHandle<int, &::close, -1>;

// ---------------------------------------------------------------------------
// Statements (statements.cpp): the only file with SQL in it.

enum Stmt {
    kFindChild,
    kKeyExists,
    kInsertKey,
    kHasChildren,
    kDeleteKeyRow,
    kDeleteKeyValues,
    kGetValue,
    kSetValue,
    kDeleteValue,
    kEnumKey,
    kEnumValue,
    kKeyInfo,
    kValueInfo,
    kDataVersion,
    kBeginRead,
    kBeginWrite,
    kCommit,
    kRollback,
    kStmtCount
};

/// What a connection runs outside its cached statements.
namespace sql {
/// The layout this store reads and writes (PRAGMA user_version).
constexpr int64_t kSchemaVersion = 1;
/// The first read of a new connection: table count, then schema version.
int ReadHeader(sqlite3* db, int64_t* version, int64_t* tables);
int SchemaVersion(sqlite3* db, int64_t* version);
/// Durability and mapping settings of every connection.
uint32_t Configure(sqlite3* db);
/// Puts the database in WAL mode and makes the tables when none are there.
uint32_t MakeSchema(sqlite3* db);
bool InWalMode(sqlite3* db);
} // namespace sql

// ---------------------------------------------------------------------------
// The lookup cache (lookup_cache.cpp).

class Hive;

/// A value as the lookup cache keeps it, or its absence.
struct ValueEntry {
    bool found = false;
    uint32_t type = 0;
    std::string data;
};

/// Answers of point lookups, valid while the WAL index header equals the
/// one seen when they were filled in. Only Lookups reads and fills it.
class LookupCache {
public:
    /// Off for the whole process when TAVOCOM_REGISTRY_CACHE is "0" (read
    /// once): every lookup then reads the database.
    static bool Enabled();

    /// Looks once per connection for its own mapping of the WAL index; no
    /// mapping, no cache. Call inside a read transaction. True: mapped.
    bool Attach(sqlite3* db);
    bool Tried() const { return m_tried; }
    /// The connection closes: its mapping goes, and every entry with it.
    void Detach();
    /// Forgets every entry (a change of this process, or a new connection).
    void Drop();
    /// True when the entries may answer: nothing committed since filling.
    bool Current() const;
    /// The WAL index header now, when it is mapped and its copies agree.
    bool Header(uint64_t* out) const { return m_walIndex && ReadHeader(out); }
    /// Maps the WAL index of a writable connection with our tables, once
    /// per connection (inside a read transaction).
    void AttachOnce(Hive& hive);
    /// Child `name` of `parent`, from memory alone: false when not known.
    /// Call only while Current().
    bool KnownChild(int64_t parent, const char16_t* name, size_t n, int64_t* id);
    /// A subkey argument below `parent`, spelled exactly so, that a walk
    /// found whole: the key's id and how many levels down it lies. The
    /// spelling skips the splitting and folding of repeated opens. Call
    /// only while Current().
    bool KnownPath(int64_t parent, const char* path, size_t n, int64_t* id, uint32_t* levels);
    void NotePath(int64_t parent, const char* path, size_t n, int64_t id, uint32_t levels);

private:
    friend class Lookups;
    static constexpr size_t kHeaderWords = kWalHeaderWords;
    bool ReadHeader(uint64_t* out) const;
    void ClearEntries();
    /// Call before a read transaction begins; false: cache nothing.
    bool PrepareFill();
    /// Room for one more entry: a full cache starts over.
    void MakeRoom();
    bool Full() const;
    /// Builds m_key for a lookup of `name` below key `id`: the id bytes,
    /// then the folded name.
    void SetKey(int64_t id, const char16_t* name, size_t n);
    /// Builds m_spelled: the id bytes, then the bytes of a name as given.
    void SetSpelled(int64_t id, const char* text, size_t n);

    // Keys: the 8 id bytes followed by the folded name.
    std::unordered_map<std::string, int64_t> m_children; // child id, 0: none
    std::unordered_map<std::string, ValueEntry> m_values;
    std::unordered_map<int64_t, bool> m_alive;
    // Keys: the 8 id bytes followed by the name as its caller spelled it.
    std::unordered_map<std::string, std::pair<int64_t, uint32_t>> m_paths; // id, levels
    std::unordered_map<std::string, const ValueEntry*> m_spelledValues;   // into m_values
    std::string m_key; // the key of the lookup under way, its room kept
    std::string m_spelled;
    const volatile uint64_t* m_walIndex = nullptr; // this connection's mapping
    bool m_tried = false;
    bool m_seenValid = false;
    uint64_t m_seen[kHeaderWords] = {};
};

// ---------------------------------------------------------------------------
// A hive (hive.cpp, and statements.cpp for its statements and batch).

/// This process's id, cheap to ask and right in a forked child.
pid_t CurrentPid();

/// Field guards: everything but the two constants is guarded by Mutex().
class Hive {
public:
    Hive(std::string path, bool machine);
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    ~Hive();

    std::mutex& Mutex() { return m_mu; }
    const std::string& Path() const { return m_path; }

    /// Opens the connection if needed. With `create`, a missing file (and
    /// its directories) is made; without, a missing file leaves it closed.
    uint32_t Connect(bool create);
    /// Reconnects when the file was replaced, removed or its permissions
    /// changed since it was opened.
    void Refresh();
    /// True when the lookup cache may answer without a look at the file:
    /// this process's own connection, and nothing committed since filling.
    bool CacheCurrent();
    /// For reads: true when the file holds our tables.
    bool SchemaReady(uint32_t* error);
    /// For writes: connection open, writable, schema in place.
    uint32_t PrepareWrite();
    /// Holds the range of SQLite's shared lock with a lock of our own.
    void TakeSharedLock();
    void Disconnect();

    sqlite3* Db() const { return m_db.Get(); }
    bool ReadOnly() const { return m_readOnly; }
    /// Writable, but read through the main file alone for want of room.
    bool ReadAlone() const { return m_db && m_immutable && !m_readOnly; }
    bool HasSchema() const { return m_hasSchema; }
    LookupCache& Cache() { return m_cache; }
    /// Counts this process's own changes and reconnections: what another
    /// connection's commits do to SQLite's data version.
    uint64_t Generation() const { return m_generation; }
    void Changed() { ++m_generation; }

    // statements.cpp
    /// The statement `which` of this connection, prepared on first use.
    sqlite3_stmt* Prepare(Stmt which, int* rc);
    bool InBatch() const { return m_batch; }
    bool BatchFailed() const { return m_batchFailed; }
    void FailBatch() { m_batchFailed = true; }
    uint32_t BeginBatch();
    uint32_t CommitBatch();
    bool RollbackBatch();

private:
    bool EndBatch();
    void CheckFork();
    void DropStatements(bool finalize);
    uint32_t CreateFile() const;
    int Open(bool immutable, int64_t* version, int64_t* tables);
    int SideFiles() const;
    bool Stale() const;
    struct stat WalNow() const;
    bool LowOnSpace() const;
    void RepairSideFiles(const struct stat& hive) const;

    std::mutex m_mu;
    const std::string m_path;
    const bool m_machine;
    pid_t m_pid = 0;          // process that opened m_db
    Connection m_db;          // empty: not open (file absent or not opened yet)
    bool m_readOnly = false;  // the file or its directory may not be written
    bool m_hasSchema = false; // the file holds our tables
    uint64_t m_generation = 0;
    LookupCache m_cache;
    dev_t m_device = 0; // identity of the file as opened
    ino_t m_inode = 0;
    struct stat m_checked {}; // the file's attributes when its writability was last checked
    // An immutable connection reads the main file alone; it is replaced as
    // soon as the file or its side files are no longer as it found them.
    bool m_immutable = false;
    struct stat m_opened {};
    int m_sideFiles = 0;
    struct stat m_walOpened {};
    bool m_openDiskFull = false; // the last open failed for want of room
    FileDescriptor m_sharedLock;

    // statements.cpp
    Statement m_stmts[kStmtCount];
    bool m_batch = false;       // a write batch holds the connection's transaction open
    bool m_batchFailed = false; // a change of that batch failed
};

// ---------------------------------------------------------------------------
// Queries and transactions (statements.cpp).

/// One execution of a cached statement; resets it when done.
class Query {
public:
    Query(Hive& hive, Stmt which) : m_db(hive.Db()), m_s(hive.Prepare(which, &m_rc)) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query();
    Query& Int(int i, int64_t v);
    Query& Blob(int i, const void* p, size_t n);
    Query& Text(int i, const std::string& t);
    /// Steps once: true for a row; false for done or an error (see Error).
    bool Row();
    /// Steps to the end: the error, 0 when done.
    uint32_t Run();
    uint32_t Error() const { return FromSqlite(m_rc); }
    int64_t ColInt(int c) const { return sqlite3_column_int64(m_s, c); }
    const uint8_t* ColBytes(int c, size_t* n) const;
    /// Rows changed by the statement, and the id of the row it inserted.
    int Changes() const { return sqlite3_changes(m_db); }
    int64_t InsertedId() const { return sqlite3_last_insert_rowid(m_db); }

private:
    int m_rc = SQLITE_OK;
    sqlite3* m_db;
    sqlite3_stmt* m_s = nullptr;
};

/// Runs a transaction statement; the destructor rolls back what was begun
/// and not committed.
class Txn {
public:
    explicit Txn(Hive& hive) : m_hive(hive) {}
    Txn(const Txn&) = delete;
    Txn& operator=(const Txn&) = delete;
    ~Txn();
    uint32_t Begin(bool write);
    uint32_t Commit();

private:
    uint32_t Run(Stmt s);
    Hive& m_hive;
    bool m_open = false;
    bool m_joined = false; // runs inside the hive's write batch
    bool m_write = false;
};

/// The point lookups of one call (lookup_cache.cpp): from the hive's cache
/// while it is current, otherwise from the database in one read transaction
/// (begun at the first miss) whose answers refill the cache.
class Lookups {
public:
    /// `direct`: the caller holds a write transaction; every lookup reads
    /// the database and nothing is cached.
    explicit Lookups(Hive& hive, bool direct = false);
    Lookups(const Lookups&) = delete;
    Lookups& operator=(const Lookups&) = delete;

    /// Id of child `name` (`n` code units) of `parent` in `*id`, 0 when
    /// there is none.
    uint32_t Child(int64_t parent, const char16_t* name, size_t n, int64_t* id);
    /// Does key `id` still exist?
    uint32_t Alive(int64_t id, bool* alive);
    /// Value `name` of key `key`. `*out` stays valid until the next lookup.
    uint32_t Value(int64_t key, const char16_t* name, size_t n, const ValueEntry** out);
    /// Value `name` (null: the default value) of key `key` by the spelling
    /// of an earlier lookup, from memory alone; false when not known.
    bool KnownValue(int64_t key, const char* name, const ValueEntry** out);
    /// After Value: its answer is also known by this spelling of the name.
    void NoteValue(int64_t key, const char* name);

private:
    const void* Folded() const { return m_cache.m_key.data() + sizeof(int64_t); }
    size_t FoldedSize() const { return m_cache.m_key.size() - sizeof(int64_t); }
    uint32_t Start();
    bool Filling();

    Hive& m_hive;
    LookupCache& m_cache;
    Txn m_txn;
    const bool m_direct;
    bool m_cached = false;
    bool m_started = false;
    bool m_fill = false;
    const ValueEntry* m_cachedValue = nullptr; // the last Value answer, when the cache holds it
    ValueEntry m_value;
};

// ---------------------------------------------------------------------------
// Hives in use (locations.cpp).

/// The hive of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER at its current
/// location, shared by every handle into it.
std::shared_ptr<Hive> HiveFor(bool machine);

// ---------------------------------------------------------------------------
// Handles and paths (handles.cpp).

/// The deepest a key may lie below its hive's root, as on the platform.
constexpr uint32_t kMaxDepth = 512;

/// What a key handle stands for.
struct Target {
    std::shared_ptr<Hive> hive;
    int64_t id = 0;
    uint32_t depth = 0; // levels below the hive's root
    uint32_t access = 0;
};

/// Where the last enumeration through a handle stopped: the item at
/// `index` and the state of the hive it was read in. A walk by index goes
/// on from there while that state holds, instead of counting from 0.
struct EnumCursor {
    bool valid = false;
    uint64_t generation = 0; // Hive::Generation()
    int64_t dataVersion = 0; // SQLite's data version
    uint32_t index = 0;
    std::string folded; // the item's folded name
    /// The items from `index` on, read in the same transaction, and the
    /// WAL index header seen before it began: they answer while that
    /// header and the generation stay, without a transaction of their own.
    struct Item {
        std::string name;
        uint32_t type = 0;
        std::string data;
    };
    std::vector<Item> ahead;
    uint64_t header[kWalHeaderWords] = {};
};

/// The target of a predefined or open handle; 6 for any other value.
uint32_t Resolve(RegKeyHandle h, Target* t);
/// A new handle to key `id` of `hive`.
uint32_t NewHandle(const std::shared_ptr<Hive>& hive, int64_t id, uint32_t depth, uint32_t access,
                   RegKeyHandle* out);
/// Takes the cursor of subkey (`values` false) or value enumeration out of
/// an open handle; an invalid one for any other handle.
void TakeCursor(RegKeyHandle h, bool values, EnumCursor* out);
/// Gives it back, when the handle is still open.
void KeepCursor(RegKeyHandle h, bool values, EnumCursor* cursor);
/// Closes an open handle; 6 for any other value.
uint32_t CloseHandle(RegKeyHandle h);

/// A name in UTF-16, in a buffer of its own while it is short.
class Utf16Name {
public:
    Utf16Name() = default;
    Utf16Name(const Utf16Name&) = delete;
    Utf16Name& operator=(const Utf16Name&) = delete;
    /// Converts `n` bytes of UTF-8; std::bad_alloc when a long name runs
    /// out of memory.
    void Assign(const char* utf8, size_t n);
    const char16_t* data() const { return m_heap.empty() ? m_small : m_heap.data(); }
    size_t size() const { return m_size; }

private:
    static constexpr size_t kSmall = 128;
    char16_t m_small[kSmall];
    size_t m_size = 0;
    std::u16string m_heap; // in use for a name longer than m_small
};

// ---------------------------------------------------------------------------
// The calls of the contract (contract.cpp, enumeration.cpp).

/// What every call on a key does first: the handle resolved (or a store
/// fault injected), then its hive locked for the rest of the call and
/// connected as the call needs it.
class KeyCall {
public:
    uint32_t Resolve(RegKeyHandle key);
    Hive& Locked();
    /// For a read: the connection, when the hive file exists. `*ready`:
    /// the file holds our tables; false without an error: an empty hive.
    uint32_t Read(bool* ready);
    /// For a change that may find nothing to change: a read, after a look
    /// at the file (replaced, or its permissions changed).
    uint32_t ReadForChange(bool* ready);
    /// For a change: connected, writable, the tables in place.
    uint32_t Write();
    const Target& target() const { return m_target; }

private:
    Target m_target;
    std::unique_lock<std::mutex> m_lock;
};

/// Does key `id` still exist? Errors count as "exists" so that they surface
/// from the operation itself.
bool KeyAlive(Hive& h, int64_t id, uint32_t* error);

/// A subkey argument split into its levels.
struct SubkeyLevels {
    // The longest argument the platform takes, and so the most levels.
    static constexpr size_t kMaxArgument = 260;
    struct Level {
        uint16_t at, n;
    };
    char16_t text[kMaxArgument];
    Level level[kMaxArgument / 2 + 1];
    size_t count = 0;

    const char16_t* Name(size_t i) const { return text + level[i].at; }
    size_t Size(size_t i) const { return level[i].n; }
};

/// A subkey argument split into its levels, with the platform's limits.
uint32_t SplitPath(const char* subkey, SubkeyLevels* levels);
/// Value name with the platform's limit; null is the default value.
bool ValueName(const char* name, Utf16Name* out);

} // namespace tavo::plat::store

#endif
