// The registry part of the platform contract: the platform registry's key
// and value calls, the ANSI code page conversions and the environment read.
//
// Every function returns what the Windows call of the same name returns:
// 0 for success or the Win32 error number. On Windows these are the real
// calls; elsewhere the backend provides a persistent registry store with the
// same behaviour.
#ifndef TAVOCOM_PLATFORM_REGISTRY_H
#define TAVOCOM_PLATFORM_REGISTRY_H

#include <tavocom/types.h>

#include <string>

#include "platform/unique_handle.h"

namespace tavo::plat {

/// Handle of an open registry key; the hive constants below are handles too.
using RegKeyHandle = struct RegKeyOpaque*;

// Same bit patterns as the platform's predefined handles (sign-extended).
inline RegKeyHandle const kHKeyCurrentUser = reinterpret_cast<RegKeyHandle>(intptr_t(int32_t(0x80000001u)));
inline RegKeyHandle const kHKeyLocalMachine = reinterpret_cast<RegKeyHandle>(intptr_t(int32_t(0x80000002u)));

// Access masks.
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Create dispositions.
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// The Win32 error numbers that registry callers look at.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorOutOfMemory = 14;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorRegistryCorrupt = 1015;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorKeyDeleted = 1018;

/// Opens `subkey` (null or empty: the key itself) below `parent`.
uint32_t RegOpenKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key);
/// Creates or opens `subkey` below `parent`, creating every missing level;
/// `disposition` (may be null) tells whether the last level was created.
/// Non-volatile, no class string, default security.
uint32_t RegCreateKeyExA(RegKeyHandle parent, const char* subkey, uint32_t access, RegKeyHandle* key,
                         uint32_t* disposition);
uint32_t RegCloseKey(RegKeyHandle key);
/// Reads value `name` (null: the default value). `type`, `data` may be
/// null; `size` is in/out in bytes (may be null only when `data` is null).
uint32_t RegQueryValueExA(RegKeyHandle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size);
uint32_t RegSetValueExA(RegKeyHandle key, const char* name, uint32_t type, const uint8_t* data, uint32_t size);
/// Deletes the single key `subkey` below `parent`; refuses a key with subkeys.
uint32_t RegDeleteKeyA(RegKeyHandle parent, const char* subkey);
uint32_t RegDeleteValueA(RegKeyHandle key, const char* name);
/// Name of subkey `index`; `nameSize` is in/out in characters.
uint32_t RegEnumKeyExA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize);
/// Name (and optionally type and data) of value `index`.
uint32_t RegEnumValueA(RegKeyHandle key, uint32_t index, char* name, uint32_t* nameSize, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize);
/// Counts of subkeys and values and their longest names (characters, no
/// terminator). Every out pointer may be null.
uint32_t RegQueryInfoKeyA(RegKeyHandle key, uint32_t* subkeys, uint32_t* maxSubkeyLen, uint32_t* values,
                          uint32_t* maxValueNameLen);

/// Environment variable as 8-bit text: the length copied (without
/// terminator), the size needed (with terminator) when `size` is too small,
/// 0 when the variable is missing or empty.
uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size);

/// ANSI code page conversions (no flags). `length` -1 converts up to and
/// including the terminator; `outSize` 0 asks for the size needed. Result:
/// characters written or needed, 0 on failure (also when `out` is too small).
int32_t WideCharToMultiByte(const COM_WCHAR* text, int32_t length, char* out, int32_t outSize);
int32_t MultiByteToWideChar(const char* text, int32_t length, COM_WCHAR* out, int32_t outSize);

/// A write batch on one hive (kHKeyLocalMachine or kHKeyCurrentUser): while
/// it is open, every change this process makes to that hive joins one
/// transaction, which CommitRegistryBatch keeps and RollbackRegistryBatch
/// drops as a whole; other processes see none of it before the commit, and
/// their batches wait for it (170 after ten seconds). A batch in which a
/// change failed is dropped by the commit, which then fails; a change that
/// fails is one the store was asked to make, so a caller that goes on after
/// "not found" asks first. One batch per hive at a time (170 for a second
/// one). Where the platform registry has no transactions (Windows) a batch
/// only orders the batches of all processes, through a named mutex that the
/// beginning thread holds until it ends the batch: each change stands as
/// soon as it is made, and RollbackRegistryBatch returns false for "nothing
/// was undone".
uint32_t BeginRegistryBatch(RegKeyHandle hive);
uint32_t CommitRegistryBatch(RegKeyHandle hive);
bool RollbackRegistryBatch(RegKeyHandle hive);

/// Owner of one open key handle; closes it when replaced or destroyed.
using RegKey = UniqueHandle<RegKeyHandle, &RegCloseKey>;

} // namespace tavo::plat

#endif
