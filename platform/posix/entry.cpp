// Load handler of the shared library: the equivalent of the platform's
// library entry point on process attach.
#include "platform/platform.h"

#include <dlfcn.h>

namespace {

__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    // The module handle is the dynamic linker's handle of this library,
    // found through one of its own symbols; no extra load is kept on it.
    if (dladdr(reinterpret_cast<void*>(&OnLoad), &info) == 0 || !info.dli_fname) return;
    void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (self) dlclose(self);
    tavo::core::OnProcessAttach(self);
}

} // namespace
