// Virtual memory: the platform's own calls.
#include "platform/vmem.h"

#include <windows.h>

namespace tavo::plat {

void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) noexcept {
    return ::VirtualAlloc(address, size, type, protect);
}

bool VirtualFree(void* address, size_t size, uint32_t type) noexcept {
    return ::VirtualFree(address, size, type) != FALSE;
}

} // namespace tavo::plat
