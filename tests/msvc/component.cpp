// A component library compiled for the MSVC ABI (clang-cl, lld-link, no
// MSVC libraries): one class with the sample's building blocks, its entry
// points exported by name, the runtime's string calls through its import
// library.
#include <tavocom/component.h>
#include <tavocom/exports.h>

#include "probe.h"

namespace {

COM_ComponentLocks g_locks;

class Probe final : public COM_ComponentObject<g_locks, IMsvcProbe> {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == COM_IID_IUnknown || iid == IID_IMsvcProbe) {
            AddRef();
            *out = static_cast<IMsvcProbe*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    COM_HRESULT Echo(const COM_WCHAR* text, COM_BSTR* out) override {
        if (!text || !out) return E_POINTER;
        COM_WCHAR buffer[256] = COM_TEXT("echo: ");
        uint32_t n = 6;
        for (const COM_WCHAR* c = text; *c && n + 1 < 256; ++c) buffer[n++] = *c;
        *out = COM_SysAllocStringLen(buffer, n);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    COM_HRESULT NextId(const _COM_GUID& id, _COM_GUID* out) override {
        if (!out) return E_POINTER;
        *out = id;
        ++out->Data1;
        return S_OK;
    }
};

COM_ComponentFactory<Probe, g_locks> g_factory;

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (!clsid || !iid || !out) return E_POINTER;
    if (!(*clsid == CLSID_MsvcProbe)) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(*iid, out);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }
