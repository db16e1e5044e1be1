// The one place where system and SQLite results become Win32 error numbers.
#include <cerrno>

#include "platform/posix/registry/store.h"

namespace tavo::plat::store {

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

} // namespace tavo::plat::store
