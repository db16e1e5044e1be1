// The throwaway registry of one benchmark program: made on first use, its
// whole version key removed at exit.
#ifndef TAVOCOM_BENCH_REGISTRY_SETUP_H
#define TAVOCOM_BENCH_REGISTRY_SETUP_H

#include <tavocom/tavocom.h>

#include <string>

#include "baseline.h"

namespace tavo::bench {

inline std::basic_string<COM_WCHAR> Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

inline utlAutoIf<COM_IRegistry> NewRegistry() {
    utlAutoIf<COM_IRegistry> r;
    COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid());
    return r;
}

/// Creates `path` below the class root and sets one string value there.
inline void SetClassRootText(COM_IRegistry* r, const std::string& path, const COM_WCHAR* name,
                             const std::string& text) {
    r->Open(COM_REGROOT_CLASSES, nullptr);
    r->CreateKey(Wide(path).c_str(), 1);
    r->SetStringValue(name, Wide(text).c_str());
}

/// Call EnsureRegistry<Fill>(version) at the start of each benchmark: the
/// first call points the registry at a throwaway place and runs `fill`.
template <void (*Fill)(COM_IRegistry*)>
void EnsureRegistry(const std::string& version) {
    struct Setup {
        explicit Setup(const std::string& v) {
            PrepareRegistry(v);
            utlAutoIf<COM_IRegistry> r = NewRegistry();
            if (r) Fill(r.Get());
        }
        ~Setup() {
            utlAutoIf<COM_IRegistry> r = NewRegistry();
            if (r && COM_SUCCEEDED(r->Open(COM_REGROOT_MACHINE, nullptr))) r->DeleteKey(COM_TEXT(""));
            r.Reset(nullptr);
            CleanUpRegistry();
        }
    };
    static Setup setup(version);
}

} // namespace tavo::bench

#endif
