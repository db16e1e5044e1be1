// The registry contract on this system: a persistent registry store, one
// SQLite database file per hive, shared by every process of the user.
//
// Layout of a hive file (schema version 1, kept in PRAGMA user_version):
//   keys(id, parent, name, folded)   one row per key; the hive root is id 1
//   vals(key, name, folded, type, data)
// `folded` is the case-folded UTF-16 name in big-endian bytes: lookups are
// case-insensitive beyond ASCII, names are plain text (never patterns), and
// the (parent, folded) index lists subkeys and values in the order the
// platform registry lists them (folded code units, shorter name first).
// Key ids are never reused, so a handle to a deleted key cannot reach a
// newer key that happens to get the same id.
//
// Concurrency: one connection per hive file per process, opened on first
// use and shared by every handle; a mutex per hive serialises its use by
// threads. Between processes SQLite's own locking applies: WAL journal,
// readers never block, a write transaction takes the write lock at its
// start (BEGIN IMMEDIATE) and waits up to kBusyTimeoutMs for it. SQLite's
// unix VFS shares one set of POSIX locks per file among all connections of
// a process; a host that opens and closes the file itself would drop those
// through close(), so each hive also holds a lock of its own that survives
// that (see TakeSharedLock). A forked child never touches the connection it
// inherited (it is abandoned, not closed) and opens its own on first use.
//
// Lookup cache: the point lookups of reads (a child key by name, a value
// by name, whether a key still exists) are answered from memory while the
// database is unchanged in every process. Each call first compares the
// WAL index header in the "-shm" file, which every commit rewrites, with
// the header seen when the cache was filled; any difference drops the
// cache, and so does every write of this process. A header whose two
// copies differ (a commit under way, or a writer killed in between) counts
// as a difference. The header is read through this connection's own mapping of that
// file, which stays valid and current while the connection is open: a
// connection in WAL mode keeps a shared lock on the database, so no other
// process can leave WAL mode or reset the index underneath it.
//
// Durability: synchronous=NORMAL with WAL. A committed change is in the WAL
// file before the call returns, so a process killed at any point loses no
// completed change; only a power failure can lose the last commits before
// the next checkpoint, like the platform registry's lazy flushing.
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/text.h"
#include "platform/utf.h"
#include "platform/registry.h"

namespace tavo::plat {
namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr int64_t kRootId = 1;
constexpr uint32_t kHandleMagic = 0x52454B59;
// Name limits as the platform's 8-bit calls apply them.
constexpr size_t kMaxSubkeyArgument = 260;
constexpr size_t kMaxSubkeyArgumentHard = 32766;
constexpr size_t kMaxKeyComponent = 256;
constexpr size_t kMaxValueName = 16383;
// Access bits that allow a change.
constexpr uint32_t kWriteAccess = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;
// The WAL index: mapped in pages of this size; it starts with two copies
// of a 48-byte header.
constexpr int kWalIndexPage = 32768;
constexpr size_t kWalHeaderWords = 48 / sizeof(uint64_t);
constexpr size_t kWalHeaderIsInit = 12;
// Lookup cache bounds: entries in all, and the largest value data kept.
constexpr size_t kCacheEntries = 4096;
// SQLite's lock bytes in the database file: the shared lock is a read lock
// on this range (its documented file locking layout).
constexpr off_t kSqliteSharedFirst = 0x40000002;
constexpr off_t kSqliteSharedSize = 510;
constexpr size_t kCacheValueBytes = 4096;

// ---------------------------------------------------------------------------
// The one place where system and SQLite errors become Win32 error numbers.

uint32_t FromErrno(int e) {
    switch (e) {
    case 0: return kErrorSuccess;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case ENOMEM: return kErrorOutOfMemory;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    default: return kErrorRegistryIoFailed;
    }
}

uint32_t FromSqlite(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kErrorBusy;
    case SQLITE_NOMEM: return kErrorOutOfMemory;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return kErrorAccessDenied;
    case SQLITE_FULL: return kErrorDiskFull;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT: return kErrorRegistryCorrupt;
    default: return kErrorRegistryIoFailed;
    }
}

// ---------------------------------------------------------------------------
// Statements, prepared once per connection.

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
    kBeginRead,
    kBeginWrite,
    kCommit,
    kRollback,
    kStmtCount
};

const char* const kSql[kStmtCount] = {
    "SELECT id FROM keys WHERE parent=?1 AND folded=?2",
    "SELECT 1 FROM keys WHERE id=?1",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
    "DELETE FROM keys WHERE id=?1",
    "DELETE FROM vals WHERE key=?1",
    "SELECT type, data FROM vals WHERE key=?1 AND folded=?2",
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
    "DELETE FROM vals WHERE key=?1 AND folded=?2",
    "SELECT name FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent=?1",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM vals WHERE key=?1",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

const char kSchema[] =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    " folded BLOB NOT NULL, UNIQUE(parent, folded));"
    "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded BLOB NOT NULL, type INTEGER NOT NULL,"
    " data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, '', x'');"
    "PRAGMA user_version=1;";

// ---------------------------------------------------------------------------
// One hive file and this process's connection to it.

/// This process's id without a system call on every use: kept in a page
/// the kernel clears in a forked child, which then fetches its own once.
pid_t CurrentPid() {
    static std::atomic<pid_t>* const kept = []() -> std::atomic<pid_t>* {
        const size_t size = size_t(sysconf(_SC_PAGESIZE));
        void* page = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return nullptr;
        if (madvise(page, size, MADV_WIPEONFORK) != 0) {
            munmap(page, size);
            return nullptr;
        }
        return new (page) std::atomic<pid_t>(0);
    }();
    if (!kept) return getpid();
    pid_t pid = kept->load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        kept->store(pid, std::memory_order_relaxed);
    }
    return pid;
}

/// A value as the lookup cache keeps it, or its absence.
struct ValueEntry {
    bool found = false;
    uint32_t type = 0;
    std::string data;
};

struct Hive {
    Hive(std::string p, bool m) : path(std::move(p)), machine(m) {}
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    ~Hive() { Disconnect(); }

    std::mutex mu; // guards everything below
    const std::string path;
    const bool machine;
    pid_t pid = 0;          // process that opened db
    sqlite3* db = nullptr;  // null: not open (file absent or not opened yet)
    bool readOnly = false;  // the file or its directory may not be written
    bool hasSchema = false; // the file holds our tables
    dev_t device = 0;       // identity and writability of the file as opened
    ino_t inode = 0;
    struct stat checked {}; // the file's attributes when its writability was last checked
    sqlite3_stmt* stmts[kStmtCount] = {};

    // The lookup cache: its answers hold while the WAL index header equals
    // `seen`. Keys are the 8 id bytes followed by the folded name.
    const volatile uint64_t* walIndex = nullptr; // this connection's mapping; null: no cache
    bool walTried = false;
    bool seenValid = false;
    uint64_t seen[kWalHeaderWords] = {};
    std::unordered_map<std::string, int64_t> children; // child id, 0: none
    std::unordered_map<std::string, ValueEntry> values;
    std::unordered_map<int64_t, bool> alive;

    // A lock of our own on the byte range of SQLite's shared lock, held as
    // an open file description lock: unlike the process's POSIX locks it
    // survives a host that opens and closes the hive file itself. While it
    // is held no other process can take the exclusive lock with which its
    // last connection would checkpoint and delete the WAL under us.
    int sharedLockFd = -1;

    void TakeSharedLock() {
        if (sharedLockFd >= 0) return;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct flock range {};
        range.l_type = F_RDLCK;
        range.l_whence = SEEK_SET;
        range.l_start = kSqliteSharedFirst;
        range.l_len = kSqliteSharedSize;
        if (fcntl(fd, F_OFD_SETLK, &range) != 0) {
            close(fd);
            return;
        }
        sharedLockFd = fd;
    }

    void Disconnect() {
        // The lock goes last in this process; a forked child's copy of the
        // descriptor shares the parent's lock, and closing it there leaves
        // the lock to the parent.
        if (sharedLockFd >= 0) {
            close(sharedLockFd);
            sharedLockFd = -1;
        }
        if (db && pid == CurrentPid()) {
            for (sqlite3_stmt*& s : stmts) sqlite3_finalize(s);
            sqlite3_close(db);
        }
        // In a forked child the inherited connection is abandoned: closing
        // it could disturb the parent's locks and WAL.
        for (sqlite3_stmt*& s : stmts) s = nullptr;
        db = nullptr;
        hasSchema = false;
        pid = 0;
        walIndex = nullptr;
        walTried = false;
        DropCache();
    }

    void ClearEntries() {
        children.clear();
        values.clear();
        alive.clear();
    }
    void DropCache() {
        ClearEntries();
        seenValid = false;
    }
    /// Room for one more entry: a full cache starts over.
    void MakeRoom() {
        if (children.size() + values.size() + alive.size() >= kCacheEntries) ClearEntries();
    }

    /// The WAL index header, when both copies agree. A commit writes the
    /// second copy and then the first, so reading the first, then the
    /// second, sees a difference while a commit is under way or after a
    /// writer died in between.
    bool ReadWalHeader(uint64_t* out) const {
        for (size_t i = 0; i < kWalHeaderWords; ++i) out[i] = walIndex[i];
        std::atomic_thread_fence(std::memory_order_acquire);
        for (size_t i = 0; i < kWalHeaderWords; ++i)
            if (walIndex[kWalHeaderWords + i] != out[i]) return false;
        return reinterpret_cast<const uint8_t*>(out)[kWalHeaderIsInit] != 0;
    }

    /// True when the cache may answer: nothing committed since it was filled.
    bool CacheCurrent() const {
        if (!walIndex || !seenValid) return false;
        uint64_t now[kWalHeaderWords];
        return ReadWalHeader(now) && std::memcmp(now, seen, sizeof now) == 0;
    }

    /// Call before a read transaction begins. Records the header the cache
    /// is filled against: taken before the transaction's snapshot, a commit
    /// in between leaves the cache older than the header it notes and so
    /// makes the next check fail, never pass. False: cache nothing.
    bool PrepareFill() {
        if (!walIndex) return false;
        uint64_t now[kWalHeaderWords];
        if (!ReadWalHeader(now)) {
            DropCache();
            return false;
        }
        if (!seenValid || std::memcmp(now, seen, sizeof now) != 0) {
            ClearEntries();
            std::memcpy(seen, now, sizeof now);
            seenValid = true;
        }
        return true;
    }

    /// Finds this connection's own mapping of the WAL index, once per
    /// connection. Call inside a read transaction (the index is open then)
    /// of a writable connection: a read-only one may run without a shared
    /// index file.
    void MapWalIndex() {
        walTried = true;
        sqlite3_stmt* s = nullptr;
        bool wal = false;
        if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
            const unsigned char* mode = sqlite3_column_text(s, 0);
            wal = mode && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
        }
        sqlite3_finalize(s);
        if (!wal) return;
        sqlite3_file* file = nullptr;
        if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
            !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
            return;
        // The region exists already (no extend): this only returns the
        // connection's pointer to it, valid until the connection closes.
        void volatile* region = nullptr;
        if (file->pMethods->xShmMap(file, 0, kWalIndexPage, 0, &region) != SQLITE_OK || !region) return;
        walIndex = static_cast<const volatile uint64_t*>(region);
        TakeSharedLock();
    }

    /// Call with mu held, before any use.
    void CheckFork() {
        if (db && pid != CurrentPid()) Disconnect();
    }

    mode_t FileMode() const { return machine ? 0644 : 0600; }
    mode_t DirMode() const { return machine ? 0755 : 0700; }

    uint32_t MakeParents() const {
        std::string dir;
        size_t pos = 0;
        while ((pos = path.find('/', pos + 1)) != std::string::npos) {
            dir = path.substr(0, pos);
            struct stat st;
            if (stat(dir.c_str(), &st) == 0) continue;
            if (mkdir(dir.c_str(), DirMode()) != 0 && errno != EEXIST) return FromErrno(errno);
            chmod(dir.c_str(), DirMode());
        }
        return kErrorSuccess;
    }

    std::string Directory() const {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) return ".";
        return slash == 0 ? std::string("/") : path.substr(0, slash);
    }

    static bool MayWrite(const char* p, const struct stat& st) {
        // Root passes access() for everything: a file or directory without
        // any write bit counts as read-only for everyone.
        return (st.st_mode & 0222) != 0 && access(p, W_OK) == 0;
    }

    uint32_t Exec(const char* sql) {
        int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        return FromSqlite(rc);
    }

    uint32_t QueryInt(const char* sql, int64_t* out) {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(s);
            if (rc == SQLITE_ROW) {
                *out = sqlite3_column_int64(s, 0);
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(s);
        return FromSqlite(rc);
    }

    /// Opens the connection if needed. With `create`, a missing file (and
    /// its directories) is made; without, a missing file leaves db null.
    uint32_t Connect(bool create) {
        CheckFork();
        if (db) return kErrorSuccess;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return FromErrno(errno);
            if (!create) return kErrorSuccess;
            if (uint32_t e = MakeParents()) return e;
            std::string dir = Directory();
            struct stat dst;
            if (stat(dir.c_str(), &dst) != 0) return FromErrno(errno);
            if (!MayWrite(dir.c_str(), dst)) return kErrorAccessDenied;
            int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, FileMode());
            if (fd < 0 && errno != EEXIST) return FromErrno(errno);
            if (fd >= 0) {
                fchmod(fd, FileMode());
                close(fd);
            }
            if (stat(path.c_str(), &st) != 0) return FromErrno(errno);
        }
        if (!S_ISREG(st.st_mode)) return kErrorRegistryIoFailed;
        std::string dir = Directory();
        struct stat dst;
        readOnly = !MayWrite(path.c_str(), st) || stat(dir.c_str(), &dst) != 0 || !MayWrite(dir.c_str(), dst);
        device = st.st_dev;
        inode = st.st_ino;
        checked = st;
        int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
        int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
            return FromSqlite(rc);
        }
        pid = CurrentPid();
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        int64_t version = 0, tables = 0;
        uint32_t e = QueryInt("PRAGMA user_version", &version);
        if (!e) e = QueryInt("SELECT count(*) FROM sqlite_schema", &tables);
        // Another program's database, or a newer format: never touched.
        if (!e && (version > kSchemaVersion || (version == 0 && tables != 0))) e = kErrorRegistryCorrupt;
        if (!e) e = Exec("PRAGMA synchronous=NORMAL");
        if (e) {
            Disconnect();
            return e;
        }
        hasSchema = version == kSchemaVersion;
        return kErrorSuccess;
    }

    /// Reconnects when the file was replaced, removed or its permissions
    /// changed since it was opened. Checked whenever a key is opened from
    /// the hive root, so a long-lived process follows such changes.
    void Refresh() {
        CheckFork();
        if (!db) return;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || st.st_dev != device || st.st_ino != inode) {
            Disconnect();
            return;
        }
        // Any change of mode, owner or ACL moves the change time; access()
        // is asked again only then.
        if (st.st_ctim.tv_sec == checked.st_ctim.tv_sec && st.st_ctim.tv_nsec == checked.st_ctim.tv_nsec &&
            st.st_mode == checked.st_mode && st.st_uid == checked.st_uid && st.st_gid == checked.st_gid)
            return;
        checked = st;
        if (MayWrite(path.c_str(), st) == readOnly) Disconnect();
    }

    /// For reads: true when the file holds our tables (another process may
    /// have created them since we looked).
    bool SchemaReady(uint32_t* error) {
        *error = kErrorSuccess;
        if (!db) return false;
        if (hasSchema) return true;
        int64_t version = 0;
        *error = QueryInt("PRAGMA user_version", &version);
        hasSchema = !*error && version == kSchemaVersion;
        return hasSchema;
    }

    /// For writes: connection open, writable, schema in place.
    uint32_t PrepareWrite() {
        if (uint32_t e = Connect(true)) return e;
        if (readOnly) return kErrorAccessDenied;
        if (hasSchema) {
            TakeSharedLock();
            return kErrorSuccess;
        }
        if (uint32_t e = Exec("PRAGMA journal_mode=WAL")) return e;
        DropCache();
        if (uint32_t e = Exec("BEGIN IMMEDIATE")) return e;
        int64_t version = 0;
        uint32_t e = QueryInt("PRAGMA user_version", &version);
        if (!e && version == 0) e = Exec(kSchema);
        if (!e) e = Exec("COMMIT");
        if (e) {
            Exec("ROLLBACK");
            return e;
        }
        hasSchema = true;
        TakeSharedLock();
        return kErrorSuccess;
    }

    sqlite3_stmt* Prepare(Stmt which, int* rc) {
        sqlite3_stmt*& s = stmts[which];
        *rc = SQLITE_OK;
        if (!s) *rc = sqlite3_prepare_v3(db, kSql[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        return s;
    }
};

/// One execution of a cached statement; resets it when done.
class Query {
public:
    Query(Hive& hive, Stmt which) : m_s(hive.Prepare(which, &m_rc)) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query() {
        if (m_s) {
            sqlite3_reset(m_s);
            sqlite3_clear_bindings(m_s);
        }
    }
    Query& Int(int i, int64_t v) {
        if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_int64(m_s, i, v);
        return *this;
    }
    Query& Blob(int i, const void* p, size_t n) {
        if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_blob64(m_s, i, n ? p : "", n, SQLITE_STATIC);
        return *this;
    }
    Query& Text(int i, const std::string& t) {
        if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_text64(m_s, i, t.data(), t.size(), SQLITE_STATIC, SQLITE_UTF8);
        return *this;
    }
    /// Steps once: true for a row; false for done or an error (see Error).
    bool Row() {
        if (m_rc != SQLITE_OK) return false;
        int rc = sqlite3_step(m_s);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) m_rc = rc;
        return false;
    }
    uint32_t Error() const { return FromSqlite(m_rc); }
    int64_t ColInt(int c) const { return sqlite3_column_int64(m_s, c); }
    const uint8_t* ColBytes(int c, size_t* n) const {
        const void* p = sqlite3_column_blob(m_s, c);
        *n = size_t(sqlite3_column_bytes(m_s, c));
        return static_cast<const uint8_t*>(p);
    }

private:
    int m_rc = SQLITE_OK;
    sqlite3_stmt* m_s = nullptr;
};

/// Runs a transaction statement; the destructor rolls back what was begun
/// and not committed.
class Txn {
public:
    explicit Txn(Hive& hive) : m_hive(hive) {}
    Txn(const Txn&) = delete;
    Txn& operator=(const Txn&) = delete;
    ~Txn() {
        if (m_open) Run(kRollback);
    }
    uint32_t Begin(bool write) {
        // A change made here would leave the cache behind; start it over.
        if (write) m_hive.DropCache();
        uint32_t e = Run(write ? kBeginWrite : kBeginRead);
        m_open = e == kErrorSuccess;
        return e;
    }
    uint32_t Commit() {
        uint32_t e = Run(kCommit);
        if (!e) m_open = false;
        return e;
    }

private:
    uint32_t Run(Stmt s) {
        Query q(m_hive, s);
        q.Row();
        return q.Error();
    }
    Hive& m_hive;
    bool m_open = false;
};

/// The point lookups of one call: from the hive's lookup cache while it is
/// current, otherwise from the database in one read transaction (begun at
/// the first miss) whose answers refill the cache.
class Lookups {
public:
    /// `direct`: the caller holds a write transaction; every lookup reads
    /// the database and nothing is cached.
    explicit Lookups(Hive& hive, bool direct = false) : m_hive(hive), m_txn(hive), m_direct(direct) {
        m_cached = !direct && hive.CacheCurrent();
    }
    Lookups(const Lookups&) = delete;
    Lookups& operator=(const Lookups&) = delete;

    /// Id of child `folded` of `parent` in `*id`, 0 when there is none.
    uint32_t Child(int64_t parent, const std::string& folded, int64_t* id) {
        SetKey(parent, &folded);
        if (m_cached) {
            auto it = m_hive.children.find(m_key);
            if (it != m_hive.children.end()) {
                *id = it->second;
                return kErrorSuccess;
            }
        }
        if (uint32_t e = Start()) return e;
        Query q(m_hive, kFindChild);
        q.Int(1, parent).Blob(2, folded.data(), folded.size());
        *id = q.Row() ? q.ColInt(0) : 0;
        if (uint32_t e = q.Error()) return e;
        if (Filling()) {
            m_hive.MakeRoom();
            m_hive.children.emplace(m_key, *id);
        }
        return kErrorSuccess;
    }

    /// Does key `id` still exist?
    uint32_t Alive(int64_t id, bool* alive) {
        *alive = true;
        if (id == kRootId) return kErrorSuccess;
        if (m_cached) {
            auto it = m_hive.alive.find(id);
            if (it != m_hive.alive.end()) {
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
            m_hive.MakeRoom();
            m_hive.alive.emplace(id, *alive);
        }
        return kErrorSuccess;
    }

    /// Value `folded` of key `key`. `*out` stays valid until the next lookup.
    uint32_t Value(int64_t key, const std::string& folded, const ValueEntry** out) {
        SetKey(key, &folded);
        if (m_cached) {
            auto it = m_hive.values.find(m_key);
            if (it != m_hive.values.end()) {
                *out = &it->second;
                return kErrorSuccess;
            }
        }
        if (uint32_t e = Start()) return e;
        Query q(m_hive, kGetValue);
        q.Int(1, key).Blob(2, folded.data(), folded.size());
        m_value.found = q.Row();
        if (uint32_t e = q.Error()) return e;
        m_value.type = 0;
        m_value.data.clear();
        if (m_value.found) {
            size_t n = 0;
            const uint8_t* bytes = q.ColBytes(1, &n);
            m_value.type = uint32_t(q.ColInt(0));
            if (n) m_value.data.assign(reinterpret_cast<const char*>(bytes), n);
        }
        *out = &m_value;
        if (Filling() && m_value.data.size() <= kCacheValueBytes) {
            m_hive.MakeRoom();
            *out = &m_hive.values.insert_or_assign(m_key, m_value).first->second;
        }
        return kErrorSuccess;
    }

private:
    void SetKey(int64_t id, const std::string* folded) {
        if (m_direct) return;
        char bytes[sizeof id];
        std::memcpy(bytes, &id, sizeof id);
        m_key.assign(bytes, sizeof bytes);
        m_key.append(*folded);
    }

    uint32_t Start() {
        if (m_started || m_direct) return kErrorSuccess;
        m_started = true;
        m_fill = m_hive.PrepareFill();
        return m_txn.Begin(false);
    }

    /// After a read in the transaction: whether its answer goes into the
    /// cache. A new connection looks for the index here, once, and starts
    /// caching with the next transaction.
    bool Filling() {
        if (m_direct) return false;
        if (!m_hive.walIndex && !m_hive.walTried && !m_hive.readOnly && m_hive.hasSchema) m_hive.MapWalIndex();
        return m_fill;
    }

    Hive& m_hive;
    Txn m_txn;
    const bool m_direct;
    bool m_cached = false;
    bool m_started = false;
    bool m_fill = false;
    std::string m_key;
    ValueEntry m_value;
};

// ---------------------------------------------------------------------------
// Hive files of this process.

std::string UserHomeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
    return "/tmp";
}

std::string HivePath(bool machine) {
    const char* over = std::getenv(machine ? "TAVOCOM_MACHINE_HIVE" : "TAVOCOM_USER_HIVE");
    if (over && *over) return over;
    if (machine) return "/var/lib/tavocom/machine.db";
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/tavocom/user.db";
    return UserHomeDir() + "/.local/share/tavocom/user.db";
}

struct HiveCache {
    std::mutex mu;
    std::map<std::pair<bool, std::string>, std::shared_ptr<Hive>> hives;
};

HiveCache& Cache() {
    static HiveCache cache;
    return cache;
}

std::shared_ptr<Hive> HiveFor(bool machine) {
    std::string path = HivePath(machine);
    HiveCache& c = Cache();
    std::lock_guard<std::mutex> lock(c.mu);
    std::shared_ptr<Hive>& slot = c.hives[{machine, path}];
    if (!slot) {
        slot = std::make_shared<Hive>(path, machine);
        // Hive files no handle refers to any more are closed once many
        // have been used (tests move from file to file).
        if (c.hives.size() > 8) {
            for (auto it = c.hives.begin(); it != c.hives.end();) {
                if (it->second.use_count() == 1 && it->second != slot) it = c.hives.erase(it);
                else ++it;
            }
        }
    }
    return slot;
}

// ---------------------------------------------------------------------------
// Key handles.

struct KeyObject {
    uint32_t magic = kHandleMagic;
    std::shared_ptr<Hive> hive;
    int64_t id = 0;
    uint32_t access = 0;
};

struct Target {
    std::shared_ptr<Hive> hive;
    int64_t id = 0;
    uint32_t access = 0;
};

uint32_t Resolve(RegKeyHandle h, Target* t) {
    if (h == kHKeyLocalMachine || h == kHKeyCurrentUser) {
        t->hive = HiveFor(h == kHKeyLocalMachine);
        t->id = kRootId;
        t->access = kKeyAllAccess;
        return kErrorSuccess;
    }
    auto* k = reinterpret_cast<KeyObject*>(h);
    if (!k || k->magic != kHandleMagic) return kErrorInvalidHandle;
    t->hive = k->hive;
    t->id = k->id;
    t->access = k->access;
    return kErrorSuccess;
}

uint32_t NewHandle(const Target& t, int64_t id, uint32_t access, RegKeyHandle* out) {
    auto* k = new (std::nothrow) KeyObject;
    if (!k) return kErrorOutOfMemory;
    k->hive = t.hive;
    k->id = id;
    k->access = access;
    *out = reinterpret_cast<RegKeyHandle>(k);
    return kErrorSuccess;
}

/// A subkey argument split into its levels, with the platform's limits.
uint32_t SplitPath(const char* subkey, std::vector<std::u16string>* parts) {
    if (!subkey) return kErrorSuccess;
    std::u16string all = utf::Utf8ToUtf16(subkey, std::strlen(subkey));
    if (all.size() > kMaxSubkeyArgumentHard) return kErrorInvalidParameter;
    if (all.size() > kMaxSubkeyArgument) return kErrorMoreData;
    if (!all.empty() && all[0] == u'\\') return kErrorBadPathname;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(u'\\', start);
        if (end == std::u16string::npos) end = all.size();
        if (end > start) {
            if (end - start > kMaxKeyComponent) return kErrorInvalidParameter;
            parts->push_back(all.substr(start, end - start));
        }
        start = end + 1;
    }
    return kErrorSuccess;
}

/// Value name with the platform's limit; null is the default value.
bool ValueName(const char* name, std::u16string* out) {
    if (name) *out = utf::Utf8ToUtf16(name, std::strlen(name));
    return out->size() <= kMaxValueName;
}

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

/// Walks `parts` down from key `from`. Result: 0 with the id reached; or
/// the error of the first missing level (2, or 1018 when `from` itself is
/// gone). `depth` receives how many levels exist.
uint32_t Walk(Lookups& look, int64_t from, const std::vector<std::u16string>& parts, int64_t* id, size_t* depth) {
    int64_t at = from;
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        int64_t child = 0;
        if (uint32_t e = look.Child(at, text::FoldKey(parts[i]), &child)) return e;
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
    return i == parts.size() ? kErrorSuccess : kErrorFileNotFound;
}

uint32_t OpenOrCreate(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                      uint32_t* disposition, bool create) {
    if (!key) return kErrorInvalidParameter;
    Target t;
    if (uint32_t e = Resolve(parent, &t)) return e;
    std::vector<std::u16string> parts;
    if (uint32_t e = SplitPath(subkey, &parts)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (parent == kHKeyLocalMachine || parent == kHKeyCurrentUser) h.Refresh();
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e = kErrorSuccess;
    int64_t id = kRootId;
    size_t depth = 0;
    // Look first, without the write lock: the common case finds everything.
    if (h.SchemaReady(&e)) {
        Lookups look(h);
        e = Walk(look, t.id, parts, &id, &depth);
        if (e && e != kErrorFileNotFound) return e;
    } else if (e) {
        return e;
    } else {
        // Empty hive: only its root exists.
        e = parts.empty() ? kErrorSuccess : kErrorFileNotFound;
    }
    if (!e) {
        if (h.readOnly && (access & kWriteAccess)) return kErrorAccessDenied;
        if (disposition) *disposition = kRegOpenedExistingKey;
        return NewHandle(t, id, access, key);
    }
    if (!create) return e;
    if (uint32_t w = h.PrepareWrite()) return w;
    Txn txn(h);
    if (uint32_t b = txn.Begin(true)) return b;
    Lookups direct(h, true);
    e = Walk(direct, t.id, parts, &id, &depth);
    if (e && e != kErrorFileNotFound) return e;
    bool created = false;
    for (size_t i = depth; i < parts.size(); ++i) {
        std::string name = utf::Utf16ToUtf8(parts[i].data(), parts[i].size());
        std::string folded = text::FoldKey(parts[i]);
        Query q(h, kInsertKey);
        q.Int(1, id).Text(2, name).Blob(3, folded.data(), folded.size());
        q.Row();
        if (q.Error()) return q.Error();
        id = sqlite3_last_insert_rowid(h.db);
        created = true;
    }
    if (uint32_t c = txn.Commit()) return c;
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return NewHandle(t, id, access, key);
}

} // namespace

// ---------------------------------------------------------------------------
// The contract.

uint32_t RegOpenKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key) {
    return OpenOrCreate(parent, subkey, access, key, nullptr, false);
}

uint32_t RegCreateKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                         uint32_t* disposition) {
    return OpenOrCreate(parent, subkey, access, key, disposition, true);
}

uint32_t RegCloseKey(RegKeyHandle key) {
    if (key == kHKeyLocalMachine || key == kHKeyCurrentUser) return kErrorSuccess;
    auto* k = reinterpret_cast<KeyObject*>(key);
    if (!k || k->magic != kHandleMagic) return kErrorInvalidHandle;
    k->magic = 0;
    delete k;
    return kErrorSuccess;
}

uint32_t RegQueryValueExA(RegKeyHandle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
    if (data && !size) return kErrorInvalidParameter;
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    std::u16string wname;
    if (!ValueName(name, &wname)) return kErrorFileNotFound;
    std::string folded = text::FoldKey(wname);
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    if (!h.SchemaReady(&e)) return e ? e : kErrorFileNotFound;
    Lookups look(h);
    const ValueEntry* v = nullptr;
    if ((e = look.Value(t.id, folded, &v))) return e;
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
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    if (size && !data) return kErrorInvalidParameter;
    std::u16string wname;
    if (!ValueName(name, &wname)) return kErrorInvalidParameter;
    std::string stored = utf::Utf16ToUtf8(wname.data(), wname.size());
    std::string folded = text::FoldKey(wname);
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
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
    Target t;
    if (uint32_t e = Resolve(parent, &t)) return e;
    std::vector<std::u16string> parts;
    if (uint32_t e = SplitPath(subkey, &parts)) return e;
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
    if (uint32_t e = h.Connect(false)) return e;
    uint32_t e;
    int64_t id = 0;
    if (!h.SchemaReady(&e)) {
        if (e) return e;
        return parts.empty() ? kErrorAccessDenied : kErrorFileNotFound;
    }
    if (h.readOnly) {
        Lookups look(h);
        e = Walk(look, t.id, parts, &id, nullptr);
        return e ? e : kErrorAccessDenied;
    }
    Txn txn(h);
    if ((e = txn.Begin(true))) return e;
    Lookups direct(h, true);
    if ((e = Walk(direct, t.id, parts, &id, nullptr))) return e;
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
    Target t;
    if (uint32_t e = Resolve(key, &t)) return e;
    if (!(t.access & kKeySetValue)) return kErrorAccessDenied;
    std::u16string wname;
    if (!ValueName(name, &wname)) return kErrorFileNotFound;
    std::string folded = text::FoldKey(wname);
    Hive& h = *t.hive;
    std::lock_guard<std::mutex> lock(h.mu);
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
    if (sqlite3_changes(h.db) == 0) return kErrorFileNotFound;
    return txn.Commit();
}

namespace {

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

uint32_t RegEnumKeyExA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize) {
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

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
    const char* v = name ? std::getenv(name) : nullptr;
    if (!v || !*v) return 0;
    size_t n = std::strlen(v);
    if (n + 1 > size || !buffer) return uint32_t(n + 1);
    std::memcpy(buffer, v, n + 1);
    return uint32_t(n);
}

} // namespace tavo::plat
