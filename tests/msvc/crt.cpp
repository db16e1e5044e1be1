// The little of the C++ runtime that the MSVC-ABI test programs need and
// that no MSVC library gives here: allocation through the process heap and
// the entry points, for programs built without exceptions, RTTI or
// security cookies.
#include <new>

#include "kernel32.h"

const std::nothrow_t std::nothrow{};

void* operator new(size_t size, const std::nothrow_t&) noexcept { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void operator delete(void* block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }
