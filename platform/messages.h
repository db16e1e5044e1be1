// System message texts: the platform's message table lookup of a status
// code, with the platform's names, flags and results.
#ifndef TAVOCOM_PLATFORM_MESSAGES_H
#define TAVOCOM_PLATFORM_MESSAGES_H

#include <tavocom/types.h>

#include "platform/unique_handle.h"

namespace tavo::plat {

// Flags of the lookup, with the platform's published values.
inline constexpr uint32_t kFormatMessageAllocateBuffer = 0x0100;
inline constexpr uint32_t kFormatMessageIgnoreInserts = 0x0200;
inline constexpr uint32_t kFormatMessageFromSystem = 0x1000;
/// The one combination the runtime asks for.
inline constexpr uint32_t kSystemMessageFlags =
    kFormatMessageAllocateBuffer | kFormatMessageIgnoreInserts | kFormatMessageFromSystem;

/// The system's text of `code` (language 0: the platform's default search)
/// in a new buffer for `*buffer`, which LocalFree releases. The text is
/// given as the platform has it, trailing line break included. Returns its
/// length in characters without the terminator; 0 when the system has no
/// text for `code` (`*buffer` then holds null). Only the flags above with
/// the allocate-buffer form are offered.
uint32_t FormatMessageW(uint32_t flags, uint32_t code, uint32_t language, COM_WCHAR** buffer);
/// The same text in the ANSI code page.
uint32_t FormatMessageA(uint32_t flags, uint32_t code, uint32_t language, char** buffer);

/// Releases a buffer that FormatMessageW or FormatMessageA allocated.
void LocalFree(void* block);

/// Owners of one system text.
using LocalWideText = UniqueHandle<COM_WCHAR*, &LocalFree>;
using LocalAnsiText = UniqueHandle<char*, &LocalFree>;

} // namespace tavo::plat

#endif
