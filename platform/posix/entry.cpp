// Load handler of the shared library: the equivalent of the platform's
// library entry point on process attach.
#include "platform/platform.h"

#include <dlfcn.h>

namespace {

__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    // The module handle is the load address of this library, found through
    // one of its own symbols.
    if (dladdr(reinterpret_cast<void*>(&OnLoad), &info) != 0)
        tavo::core::OnProcessAttach(info.dli_fbase);
}

} // namespace
