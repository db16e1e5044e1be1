// The environment read of the contract: the platform's own.
#include "platform/registry.h"

#include <windows.h>

namespace tavo::plat {

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
    return ::GetEnvironmentVariableA(name, buffer, size);
}

} // namespace tavo::plat
