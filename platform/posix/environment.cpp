// The environment read of the contract: the process's own environment.
#include <cstdlib>
#include <cstring>

#include "platform/registry.h"

namespace tavo::plat {

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
    const char* v = name ? std::getenv(name) : nullptr;
    if (!v || !*v) return 0;
    size_t n = std::strlen(v);
    if (n + 1 > size || !buffer) return uint32_t(n + 1);
    std::memcpy(buffer, v, n + 1);
    return uint32_t(n);
}

} // namespace tavo::plat
