// The contract between the runtime's logic and the platform. Every call the
// logic makes to the operating system goes through one of these functions;
// CMake builds exactly one backend (win32/ or posix/) behind them.
//
// Rule for every function here: results and error numbers are those of the
// Windows call of the same name; the posix backend reproduces them.
#ifndef TAVOCOM_PLATFORM_PLATFORM_H
#define TAVOCOM_PLATFORM_PLATFORM_H

#include <tavocom/types.h>

#include "platform/registry.h"

#include "platform/loader.h"

namespace tavo::plat {

// Length-prefixed strings: same names, arguments and results as the
// platform's automation string functions.
COM_BSTR SysAllocString(const COM_WCHAR* text);
COM_BSTR SysAllocStringLen(const COM_WCHAR* text, uint32_t length);
COM_BSTR SysAllocStringByteLen(const char* bytes, uint32_t length);
int32_t SysReAllocString(COM_BSTR* target, const COM_WCHAR* text);
int32_t SysReAllocStringLen(COM_BSTR* target, const COM_WCHAR* text, uint32_t length);
void SysFreeString(COM_BSTR text);
uint32_t SysStringLen(COM_BSTR text);
uint32_t SysStringByteLen(COM_BSTR text);

/// Owner of one length-prefixed string.
using OwnedBstr = UniqueHandle<COM_BSTR, &SysFreeString>;

// Identifiers. StringFromCLSID returns its text in task memory.
COM_HRESULT StringFromCLSID(const _COM_GUID& id, COM_WCHAR** text);
COM_HRESULT CLSIDFromString(const COM_WCHAR* text, _COM_GUID* id);
COM_HRESULT CoCreateGuid(_COM_GUID* id);

// Task memory.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);

} // namespace tavo::plat

#include "platform/vmem.h"

#include "platform/messages.h"

// Backend-independent entry hooks, implemented by the logic and called by
// the backend's load and unload handlers.
namespace tavo::core {
/// The platform has loaded this library under `self`.
void OnProcessAttach(plat::ModuleHandle self) noexcept;
} // namespace tavo::core

#endif
