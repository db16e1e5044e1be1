// The test program's fault hook, found once by its exported name.
#include "platform/fault.h"

#ifdef TAVOCOM_FAULT_INJECTION
#include <dlfcn.h>

namespace tavo::plat {

bool Injected(Fault kind) noexcept {
    using Hook = int (*)(int);
    static const Hook hook = reinterpret_cast<Hook>(dlsym(RTLD_DEFAULT, "tavocom_fault_point"));
    return hook && hook(int(kind)) != 0;
}

} // namespace tavo::plat
#endif
