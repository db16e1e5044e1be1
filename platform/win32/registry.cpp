// The registry calls of the contract on Windows: the platform's own
// registry. Error numbers pass through unchanged.
#include "platform/registry.h"
#include "platform/tool_calls.h"

#include <windows.h>

namespace tavo::plat {
namespace {

HKEY Native(RegKeyHandle h) { return reinterpret_cast<HKEY>(h); }
RegKeyHandle Ours(HKEY h) { return reinterpret_cast<RegKeyHandle>(h); }
uint32_t Code(LONG e) { return static_cast<uint32_t>(e); }

} // namespace

uint32_t RegOpenKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key) {
    HKEY h = nullptr;
    LONG e = ::RegOpenKeyExA(Native(parent), subkey, 0, access, &h);
    if (e == ERROR_SUCCESS) *key = Ours(h);
    return Code(e);
}

uint32_t RegCreateKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                         uint32_t* disposition) {
    HKEY h = nullptr;
    DWORD disp = 0;
    LONG e = ::RegCreateKeyExA(Native(parent), subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &h,
                               &disp);
    if (e == ERROR_SUCCESS) {
        *key = Ours(h);
        if (disposition) *disposition = disp;
    }
    return Code(e);
}

uint32_t RegCloseKey(RegKeyHandle key) { return Code(::RegCloseKey(Native(key))); }

uint32_t RegQueryValueExA(RegKeyHandle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
    DWORD t = 0;
    DWORD s = size ? *size : 0;
    LONG e = ::RegQueryValueExA(Native(key), name, nullptr, type ? &t : nullptr, data, size ? &s : nullptr);
    if (type) *type = t;
    if (size) *size = s;
    return Code(e);
}

uint32_t RegSetValueExA(RegKeyHandle key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
    return Code(::RegSetValueExA(Native(key), name, 0, type, data, size));
}

uint32_t RegDeleteKeyA(RegKeyHandle parent, const char* subkey) { return Code(::RegDeleteKeyA(Native(parent), subkey)); }

uint32_t RegDeleteValueA(RegKeyHandle key, const char* name) { return Code(::RegDeleteValueA(Native(key), name)); }

uint32_t RegEnumKeyExA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize) {
    DWORD s = *nameSize;
    LONG e = ::RegEnumKeyExA(Native(key), index, name, &s, nullptr, nullptr, nullptr, nullptr);
    *nameSize = s;
    return Code(e);
}

uint32_t RegEnumValueA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize) {
    DWORD s = *nameSize;
    DWORD t = 0;
    DWORD d = dataSize ? *dataSize : 0;
    LONG e = ::RegEnumValueA(Native(key), index, name, &s, nullptr, type ? &t : nullptr, data,
                             dataSize ? &d : nullptr);
    *nameSize = s;
    if (type) *type = t;
    if (dataSize) *dataSize = d;
    return Code(e);
}

uint32_t RegQueryInfoKeyA(RegKeyHandle key, uint32_t* subkeys, uint32_t* maxSubkeyLen, uint32_t* values,
                          uint32_t* maxValueNameLen) {
    DWORD a = 0, b = 0, c = 0, d = 0;
    LONG e = ::RegQueryInfoKeyA(Native(key), nullptr, nullptr, nullptr, subkeys ? &a : nullptr,
                                maxSubkeyLen ? &b : nullptr, nullptr, values ? &c : nullptr,
                                maxValueNameLen ? &d : nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_SUCCESS) {
        if (subkeys) *subkeys = a;
        if (maxSubkeyLen) *maxSubkeyLen = b;
        if (values) *values = c;
        if (maxValueNameLen) *maxValueNameLen = d;
    }
    return Code(e);
}

// The system registry stays where it is; a hive may be written when its
// software key opens for creating subkeys and setting values.
RegHiveLocation RegQueryHiveLocation(RegKeyHandle hive) {
    const bool machine = hive == kHKeyLocalMachine;
    HKEY key = nullptr;
    bool writable =
        ::RegOpenKeyExA(Native(hive), "Software", 0, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    return {machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER", nullptr, false, writable,
            machine ? "an administrator" : nullptr};
}

uint32_t RegMoveHive(RegKeyHandle, const char*) { return kErrorNotSupported; }

} // namespace tavo::plat

// Write batches are not mapped onto the platform's transacted registry
// calls: each change stands on its own as soon as it is made. A batch holds
// a named mutex of its hive instead, so that the batches of all processes
// (registrations, imports) run one after another, as the store's write lock
// orders them on Linux. The mutex belongs to the thread that took it: a
// batch ends on the thread that began it.
namespace tavo::plat {
namespace {

// As long as the Linux store waits for its write lock.
constexpr DWORD kBatchWaitMs = 10000;

enum class BatchState { None, Locked, Unlocked };

bool BatchHive(RegKeyHandle hive) { return hive == kHKeyLocalMachine || hive == kHKeyCurrentUser; }

// Made at first use and kept for the process; null when it cannot be made,
// and batches of that hive then run unordered. The machine hive's is seen
// by every session.
HANDLE BatchMutex(RegKeyHandle hive) {
    static const HANDLE machine = ::CreateMutexW(nullptr, FALSE, L"Global\\TAVOCOM64.RegistryBatch.Machine");
    static const HANDLE user = ::CreateMutexW(nullptr, FALSE, L"Local\\TAVOCOM64.RegistryBatch.User");
    return hive == kHKeyLocalMachine ? machine : user;
}

// The batches this thread has open, by hive.
thread_local BatchState t_machine = BatchState::None;
thread_local BatchState t_user = BatchState::None;

BatchState& StateOf(RegKeyHandle hive) { return hive == kHKeyLocalMachine ? t_machine : t_user; }

// Ends this thread's batch on `hive`; false when there was none.
bool EndBatch(RegKeyHandle hive) {
    if (!BatchHive(hive)) return false;
    BatchState& state = StateOf(hive);
    if (state == BatchState::None) return false;
    if (state == BatchState::Locked) ::ReleaseMutex(BatchMutex(hive));
    state = BatchState::None;
    return true;
}

} // namespace

uint32_t BeginRegistryBatch(RegKeyHandle hive) {
    if (!BatchHive(hive)) return kErrorInvalidHandle;
    BatchState& state = StateOf(hive);
    if (state != BatchState::None) return kErrorBusy;
    HANDLE mutex = BatchMutex(hive);
    if (!mutex) {
        state = BatchState::Unlocked;
        return kErrorSuccess;
    }
    // An abandoned mutex is taken over: its holder ended, and each of its
    // changes stood on its own.
    DWORD waited = ::WaitForSingleObject(mutex, kBatchWaitMs);
    if (waited == WAIT_TIMEOUT) return kErrorBusy;
    state = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED ? BatchState::Locked : BatchState::Unlocked;
    return kErrorSuccess;
}

uint32_t CommitRegistryBatch(RegKeyHandle hive) {
    if (!BatchHive(hive)) return kErrorInvalidHandle;
    return EndBatch(hive) ? kErrorSuccess : kErrorInvalidParameter;
}

// Nothing is undone: the changes stand.
bool RollbackRegistryBatch(RegKeyHandle hive) {
    EndBatch(hive);
    return false;
}

} // namespace tavo::plat
