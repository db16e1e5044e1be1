// A component library of the product: one class, Greeter, served through
// the two entry points every component exports, "GetClassObject" and
// "CanUnloadNow", and registered by "DllRegisterServer" and
// "DllUnregisterServer". It uses nothing but the public headers and the
// runtime's exported functions.
#include "greeter.h"

#include <atomic>
#include <new>

namespace {

// Objects alive plus factory references held; the library may be unloaded
// only when it is zero.
std::atomic<uint32_t> g_locks{0};

class Greeter final : public IGreeter {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (iid == COM_IID_IUnknown || iid == IID_IGreeter) {
            AddRef();
            *out = static_cast<IGreeter*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override {
        if (m_refs == 0) ++g_locks;
        return ++m_refs;
    }
    uint32_t Release() override {
        uint32_t left = --m_refs;
        if (left == 0) {
            delete this;
            --g_locks;
        }
        return left;
    }
    COM_HRESULT Greet(const COM_WCHAR* name, COM_BSTR* text) override {
        if (!text) return E_POINTER;
        std::basic_string<COM_WCHAR> greeting = COM_TEXT("Hello, ");
        greeting += name ? name : COM_TEXT("world");
        greeting += COM_TEXT("!");
        *text = COM_SysAllocStringLen(greeting.data(), uint32_t(greeting.size()));
        if (!*text) return E_OUTOFMEMORY;
        ++m_count;
        return S_OK;
    }
    COM_HRESULT GetCount(uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = m_count;
        return S_OK;
    }

private:
    uint32_t m_refs = 0;
    uint32_t m_count = 0;
};

class GreeterFactory final : public COM_IClassFactory {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (iid == COM_IID_IUnknown || iid == COM_IID_IClassFactory) {
            AddRef();
            *out = static_cast<COM_IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override {
        ++g_locks;
        return 1;
    }
    uint32_t Release() override {
        --g_locks;
        return 1;
    }
    COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) override {
        auto* greeter = new (std::nothrow) Greeter();
        if (!greeter) return E_OUTOFMEMORY;
        greeter->AddRef();
        COM_HRESULT hr = greeter->QueryInterface(iid, out);
        greeter->Release();
        return hr;
    }
};

GreeterFactory g_factory;

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (*clsid != CLSID_Greeter) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(*iid, out);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }

namespace {

const COM_ClassCategory kGreeterCategories[] = {
    {&CATID_Greeters, COM_TEXT("Components that greet")},
    {nullptr, nullptr},
};

const COM_ClassRegistration kClasses[] = {
    {&CLSID_Greeter, COM_TEXT("TavoSample.Greeter"), COM_TEXT(COM_COMPONENT_FILE_NAME), COM_TEXT("Sample greeter"),
     COM_TEXT("Says hello to whoever asks"), nullptr, nullptr, kGreeterCategories},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() { return COM_RegisterComponent(kClasses, 1); }

COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() { return COM_RegisterComponent(kClasses, 0); }
