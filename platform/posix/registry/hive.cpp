// A hive file and this process's connection to it: the file and its
// permissions, the connection, the schema, and what a forked child does.
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
// Read-only hives: a WAL database is read through its side files ("-wal",
// "-shm"), which a connection creates when they are missing. Without write
// rights SQLite cannot do that properly: in a directory it may not write it
// cannot read the hive at all, and in one it may write it leaves them
// read-only, in the way of the next writer. So a connection that may not
// write the hive opens it as usual only when both side files are there;
// otherwise the main file holds every committed change (the last
// connection to close checkpoints into it before it removes them), and it
// is read alone, as immutable, while it and its side files stay as they
// were. That connection holds the shared-lock range too, so a writer that
// comes and goes keeps its side files until the next call sees them. Side
// files that another reader left read-only are given the hive's mode back
// by the next connection that may write the hive.
//
// Durability: synchronous=NORMAL with WAL. A committed change is in the WAL
// file before the call returns, so a process killed at any point loses no
// completed change; only a power failure can lose the last commits before
// the next checkpoint, like the platform registry's lazy flushing.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/registry/store.h"

namespace tavo::plat::store {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetryMs = 5;

// Two processes making a new hive a WAL database at the same moment: SQLite
// may answer the one that finds the other in the middle of it with BUSY at
// once, without going through its busy handler. That is waited for as any
// lock is, in short steps up to the same limit.
template <class Step, class Busy>
auto WaitingOutBusy(Step step, Busy busy) {
    auto rc = step();
    for (int waited = 0; busy(rc) && waited < kBusyTimeoutMs; waited += kBusyRetryMs) {
        usleep(kBusyRetryMs * 1000);
        rc = step();
    }
    return rc;
}
// SQLite's lock bytes in the database file: the shared lock is a read lock
// on this range (its documented file locking layout).
constexpr off_t kSqliteSharedFirst = 0x40000002;
constexpr off_t kSqliteSharedSize = 510;
constexpr int kWalFile = 1, kShmFile = 2;
// What SQLite's shared index takes on the disk at first: one page of it.
constexpr uint64_t kRoomForIndex = 64 * 1024;

mode_t FileMode(bool machine) { return machine ? 0644 : 0600; }
mode_t DirMode(bool machine) { return machine ? 0755 : 0700; }

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

/// `path` as a URI for SQLite, with `query` appended.
std::string FileUri(const std::string& path, const char* query) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = path[0] == '/' ? "file://" : "file:";
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("/._~-", c)) {
            uri += char(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri + "?" + query;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool MayWrite(const char* p, const struct stat& st) {
    // Root passes access() for everything: a file or directory without any
    // write bit counts as read-only for everyone.
    return (st.st_mode & 0222) != 0 && access(p, W_OK) == 0;
}

} // namespace

// Kept in a page the kernel clears in a forked child, which then fetches
// its own id once: no system call on every use.
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

// The lock is held as an open file description lock: unlike the process's
// POSIX locks it survives a host that opens and closes the hive file
// itself. While it is held no other process can take the exclusive lock
// with which its last connection would checkpoint and delete the WAL under
// us.
void Hive::TakeSharedLock() {
    if (m_sharedLock) return;
    FileDescriptor fd(open(m_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return;
    struct flock range {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = kSqliteSharedFirst;
    range.l_len = kSqliteSharedSize;
    if (fcntl(fd.Get(), F_OFD_SETLK, &range) == 0) m_sharedLock = std::move(fd);
}

Hive::Hive(std::string path, bool machine) : m_path(std::move(path)), m_machine(machine) {}

Hive::~Hive() { Disconnect(); }

void Hive::Disconnect() {
    // A forked child's copy of the lock descriptor shares the parent's open
    // file description: closing it there leaves the lock to the parent.
    m_sharedLock.Reset();
    const bool own = m_db && m_pid == CurrentPid();
    DropStatements(own);
    if (own) m_db.Reset();
    // In a forked child the inherited connection is abandoned: closing it
    // could disturb the parent's locks and WAL.
    m_db.Release();
    m_hasSchema = false;
    m_pid = 0;
    m_immutable = false;
    m_cache.Detach();
    Changed();
}

void Hive::CheckFork() {
    if (m_db && m_pid != CurrentPid()) Disconnect();
}

/// Makes the missing file and its directories, with the hive's modes.
uint32_t Hive::CreateFile() const {
    size_t pos = 0;
    while ((pos = m_path.find('/', pos + 1)) != std::string::npos) {
        std::string dir = m_path.substr(0, pos);
        struct stat st;
        if (stat(dir.c_str(), &st) == 0) continue;
        if (mkdir(dir.c_str(), DirMode(m_machine)) != 0 && errno != EEXIST) return FromErrno(errno);
        chmod(dir.c_str(), DirMode(m_machine));
    }
    std::string dir = DirectoryOf(m_path);
    struct stat dst;
    if (stat(dir.c_str(), &dst) != 0) return FromErrno(errno);
    if (!MayWrite(dir.c_str(), dst)) return kErrorAccessDenied;
    FileDescriptor fd(open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, FileMode(m_machine)));
    if (!fd && errno != EEXIST) return FromErrno(errno);
    if (fd) fchmod(fd.Get(), FileMode(m_machine));
    return kErrorSuccess;
}

/// Which side files exist now.
int Hive::SideFiles() const {
    return (access((m_path + "-wal").c_str(), F_OK) == 0 ? kWalFile : 0) |
           (access((m_path + "-shm").c_str(), F_OK) == 0 ? kShmFile : 0);
}

/// The "-wal" file now (st_ino 0 when there is none).
struct stat Hive::WalNow() const {
    struct stat st {};
    if (stat((m_path + "-wal").c_str(), &st) != 0) st = {};
    return st;
}

/// An immutable connection no longer sees the hive as it is.
bool Hive::Stale() const {
    struct stat st;
    if (stat(m_path.c_str(), &st) != 0 || !SameFile(st, m_opened) || SideFiles() != m_sideFiles) return true;
    const struct stat wal = WalNow();
    return wal.st_ino != m_walOpened.st_ino || (wal.st_ino && !SameFile(wal, m_walOpened));
}

/// Too little room left beside the hive for SQLite's shared index.
bool Hive::LowOnSpace() const {
    struct statvfs fs;
    return statvfs(DirectoryOf(m_path).c_str(), &fs) == 0 && uint64_t(fs.f_bavail) * fs.f_frsize < kRoomForIndex;
}

/// Side files this process may not write would turn its writes away; when
/// they are its own, they get the mode of the hive, which it may write.
void Hive::RepairSideFiles(const struct stat& hive) const {
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string side = m_path + suffix;
        struct stat st;
        if (lstat(side.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            access(side.c_str(), W_OK) != 0)
            chmod(side.c_str(), hive.st_mode & 0777);
    }
}

/// Opens the connection and reads the schema version and table count: the
/// first read, where a WAL database meets its side files. A raw SQLite
/// result; on failure the connection stays closed.
int Hive::Open(bool immutable, int64_t* version, int64_t* tables) {
    m_openDiskFull = false;
    int rc = immutable ? sqlite3_open_v2(FileUri(m_path, "immutable=1").c_str(), m_db.Put(),
                                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, StoreVfs())
                       : sqlite3_open_v2(m_path.c_str(), m_db.Put(),
                                         (m_readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX,
                                         StoreVfs());
    // Tables before version: another process may make the schema (tables
    // and version in one transaction) between the two reads, and only this
    // order can never see its tables without its version, which would look
    // like another program's database.
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(m_db.Get(), kBusyTimeoutMs);
        rc = sql::ReadHeader(m_db.Get(), version, tables);
    }
    if (rc != SQLITE_OK) {
        const int sys = m_db ? sqlite3_system_errno(m_db.Get()) : 0;
        m_openDiskFull = (rc & 0xFF) == SQLITE_FULL || sys == ENOSPC || sys == EDQUOT;
        m_db.Reset();
    }
    return rc;
}

uint32_t Hive::Connect(bool create) {
    CheckFork();
    if (m_db && m_immutable && Stale()) Disconnect();
    if (m_db) return kErrorSuccess;
    struct stat st;
    if (stat(m_path.c_str(), &st) != 0) {
        if (errno != ENOENT) return FromErrno(errno);
        if (!create) return kErrorSuccess;
        if (uint32_t e = CreateFile()) return e;
        if (stat(m_path.c_str(), &st) != 0) return FromErrno(errno);
    }
    if (!S_ISREG(st.st_mode)) return kErrorRegistryIoFailed;
    std::string dir = DirectoryOf(m_path);
    struct stat dst;
    m_readOnly = !MayWrite(m_path.c_str(), st) || stat(dir.c_str(), &dst) != 0 || !MayWrite(dir.c_str(), dst);
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_checked = st;
    if (!m_readOnly) RepairSideFiles(st);
    int sideFiles = SideFiles();
    m_immutable = m_readOnly && sideFiles != (kWalFile | kShmFile);
    // On a full disk SQLite can neither make nor size the shared index (the
    // "-shm" file) through which a WAL database is read. While every commit
    // is in the main file (no "-wal", or an empty one), a read needs
    // neither: it reads the main file alone, as for a read-only hive, until
    // the files change. A change still asks for the usual connection, and
    // fails with the disk-full error.
    const bool mayReadAlone = !create && !m_readOnly && WalNow().st_size == 0;
    if (mayReadAlone && !(sideFiles & kShmFile) && LowOnSpace()) m_immutable = true;
    int64_t version = 0, tables = 0;
    int rc = WaitingOutBusy([&] { return Open(m_immutable, &version, &tables); },
                            [](int r) { return (r & 0xFF) == SQLITE_BUSY; });
    if (m_readOnly && !m_immutable && ((rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_READONLY)) {
        // The side files went between the look and the open.
        m_immutable = true;
        rc = Open(true, &version, &tables);
    }
    if (rc != SQLITE_OK && m_openDiskFull && mayReadAlone && !m_immutable && WalNow().st_size == 0) {
        m_immutable = true;
        sideFiles = SideFiles();
        rc = Open(true, &version, &tables);
    }
    if (rc != SQLITE_OK) {
        m_immutable = false;
        return m_openDiskFull ? kErrorDiskFull : FromSqlite(rc);
    }
    m_pid = CurrentPid();
    if (m_immutable) {
        m_opened = st;
        m_sideFiles = sideFiles;
        m_walOpened = WalNow();
        TakeSharedLock();
    }
    uint32_t e = kErrorSuccess;
    // Another program's database, or a newer format: never touched.
    if (version > sql::kSchemaVersion || (version == 0 && tables != 0)) e = kErrorRegistryCorrupt;
    if (!e) e = sql::Configure(m_db.Get());
    if (e) {
        Disconnect();
        return e;
    }
    m_hasSchema = version == sql::kSchemaVersion;
    return kErrorSuccess;
}

// Checked whenever a key is opened from the hive root, so a long-lived
// process follows such changes.
void Hive::Refresh() {
    CheckFork();
    if (m_batch) return; // the open batch keeps its connection
    if (!m_db) return;
    struct stat st;
    if (stat(m_path.c_str(), &st) != 0 || st.st_dev != m_device || st.st_ino != m_inode) {
        Disconnect();
        return;
    }
    // Any change of mode, owner or ACL moves the change time; access() is
    // asked again only then.
    if (st.st_ctim.tv_sec == m_checked.st_ctim.tv_sec && st.st_ctim.tv_nsec == m_checked.st_ctim.tv_nsec &&
        st.st_mode == m_checked.st_mode && st.st_uid == m_checked.st_uid && st.st_gid == m_checked.st_gid)
        return;
    m_checked = st;
    if (MayWrite(m_path.c_str(), st) == m_readOnly) Disconnect();
}

bool Hive::CacheCurrent() {
    CheckFork();
    return m_db && !m_batch && m_cache.Current();
}

// Another process may have created the tables since we looked.
bool Hive::SchemaReady(uint32_t* error) {
    *error = kErrorSuccess;
    if (!m_db) return false;
    if (m_hasSchema) return true;
    int64_t version = 0;
    *error = FromSqlite(sql::SchemaVersion(m_db.Get(), &version));
    m_hasSchema = !*error && version == sql::kSchemaVersion;
    return m_hasSchema;
}

uint32_t Hive::PrepareWrite() {
    // A hive read alone for want of room is written through the usual
    // connection, or not at all.
    if (ReadAlone()) Disconnect();
    if (uint32_t e = Connect(true)) return e;
    if (m_readOnly) return kErrorAccessDenied;
    if (m_hasSchema) {
        TakeSharedLock();
        return kErrorSuccess;
    }
    m_cache.Drop();
    Changed();
    if (uint32_t e = WaitingOutBusy([&] { return sql::MakeSchema(m_db.Get()); },
                                    [](uint32_t r) { return r == kErrorBusy; }))
        return e;
    m_hasSchema = true;
    TakeSharedLock();
    return kErrorSuccess;
}

} // namespace tavo::plat::store
