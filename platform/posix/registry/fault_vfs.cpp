// The store's files as a full disk leaves them, for test builds: with
// TAVOCOM_FAULT_INJECTION defined, the hives are opened through a thin
// layer over SQLite's own VFS that asks the fault hook (Fault::DiskFull)
// before every write that would take room, and fails it with SQLITE_FULL:
// writes, growing truncations and a growing map of the shared index.
// Without it the store uses SQLite's default VFS directly.
#include "platform/fault.h"
#include "platform/posix/registry/store.h"

#ifdef TAVOCOM_FAULT_INJECTION
#include <mutex>

namespace tavo::plat::store {
namespace {

constexpr char kName[] = "tavocom-full-disk";

/// A file of the layer: its methods, then the real file right behind it.
struct File {
    sqlite3_file base;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
sqlite3_file* Real(sqlite3_file* f) { return Of(f)->real(); }
sqlite3_vfs* RealVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }
bool Full() { return Injected(Fault::DiskFull); }

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) { return Real(f)->pMethods->xRead(Real(f), p, n, at); }
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
    return Full() ? SQLITE_FULL : Real(f)->pMethods->xWrite(Real(f), p, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    sqlite3_int64 now = 0;
    if (Real(f)->pMethods->xFileSize(Real(f), &now) == SQLITE_OK && size > now && Full()) return SQLITE_FULL;
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    if (extend && Full()) return SQLITE_FULL;
    return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) { return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags); }
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); }
int Fetch(sqlite3_file* f, sqlite3_int64 at, int n, void** out) { return Real(f)->pMethods->xFetch(Real(f), at, n, out); }
int Unfetch(sqlite3_file* f, sqlite3_int64 at, void* p) { return Real(f)->pMethods->xUnfetch(Real(f), at, p); }

const sqlite3_io_methods kMethods = {
    3, // with the shared-memory and memory-map calls
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    sqlite3_file* real = Real(f);
    f->pMethods = nullptr;
    int rc = RealVfs(vfs)->xOpen(RealVfs(vfs), name, real, flags, outFlags);
    // A real file whose open failed may still hold methods that close it.
    if (real->pMethods) f->pMethods = &kMethods;
    return rc;
}
int Delete(sqlite3_vfs* v, const char* name, int sync) { return RealVfs(v)->xDelete(RealVfs(v), name, sync); }
int Access(sqlite3_vfs* v, const char* name, int flags, int* out) { return RealVfs(v)->xAccess(RealVfs(v), name, flags, out); }
int FullPathname(sqlite3_vfs* v, const char* name, int n, char* out) {
    return RealVfs(v)->xFullPathname(RealVfs(v), name, n, out);
}
void* DlOpen(sqlite3_vfs* v, const char* name) { return RealVfs(v)->xDlOpen(RealVfs(v), name); }
void DlError(sqlite3_vfs* v, int n, char* out) { RealVfs(v)->xDlError(RealVfs(v), n, out); }
void (*DlSym(sqlite3_vfs* v, void* h, const char* name))(void) { return RealVfs(v)->xDlSym(RealVfs(v), h, name); }
void DlClose(sqlite3_vfs* v, void* h) { RealVfs(v)->xDlClose(RealVfs(v), h); }
int Randomness(sqlite3_vfs* v, int n, char* out) { return RealVfs(v)->xRandomness(RealVfs(v), n, out); }
int Sleep(sqlite3_vfs* v, int us) { return RealVfs(v)->xSleep(RealVfs(v), us); }
int CurrentTime(sqlite3_vfs* v, double* out) { return RealVfs(v)->xCurrentTime(RealVfs(v), out); }
int GetLastError(sqlite3_vfs* v, int n, char* out) { return RealVfs(v)->xGetLastError(RealVfs(v), n, out); }
int CurrentTimeInt64(sqlite3_vfs* v, sqlite3_int64* out) { return RealVfs(v)->xCurrentTimeInt64(RealVfs(v), out); }

} // namespace

const char* StoreVfs() {
    static std::once_flag once;
    static sqlite3_vfs layer;
    static const char* name = nullptr;
    std::call_once(once, [] {
        sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
        if (!real || real->iVersion < 2) return;
        layer.iVersion = 2;
        layer.szOsFile = int(sizeof(File)) + real->szOsFile;
        layer.mxPathname = real->mxPathname;
        layer.zName = kName;
        layer.pAppData = real;
        layer.xOpen = Open;
        layer.xDelete = Delete;
        layer.xAccess = Access;
        layer.xFullPathname = FullPathname;
        layer.xDlOpen = DlOpen;
        layer.xDlError = DlError;
        layer.xDlSym = DlSym;
        layer.xDlClose = DlClose;
        layer.xRandomness = Randomness;
        layer.xSleep = Sleep;
        layer.xCurrentTime = CurrentTime;
        layer.xGetLastError = GetLastError;
        layer.xCurrentTimeInt64 = CurrentTimeInt64;
        if (sqlite3_vfs_register(&layer, 0) == SQLITE_OK) name = kName;
    });
    return name;
}

} // namespace tavo::plat::store

#else

namespace tavo::plat::store {

const char* StoreVfs() { return nullptr; }

} // namespace tavo::plat::store

#endif
