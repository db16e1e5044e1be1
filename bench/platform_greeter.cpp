// The sample Greeter as an in-process server of the platform's own object
// model (Windows only): the baseline for activation through the platform.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

namespace {

std::atomic<long> g_locks{0};

// Same identifier as the sample component's class: one class, two roads.
const CLSID kClsid = {0xD41060A0, 0xF9F7, 0x4CB0, {0x95, 0x3E, 0x18, 0x58, 0x45, 0xE6, 0xF0, 0xC5}};

class Greeter final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            AddRef();
            *out = static_cast<IUnknown*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (m_refs == 0) ++g_locks;
        return ++m_refs;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_refs;
        if (left == 0) {
            delete this;
            --g_locks;
        }
        return left;
    }

private:
    ULONG m_refs = 0;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            AddRef();
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        ++g_locks;
        return 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        --g_locks;
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* g = new (std::nothrow) Greeter();
        if (!g) return E_OUTOFMEMORY;
        g->AddRef();
        HRESULT hr = g->QueryInterface(iid, out);
        g->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

} // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }
