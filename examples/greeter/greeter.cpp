// A component library of the product: one class, Greeter, served through
// the two entry points every component exports, "GetClassObject" and
// "CanUnloadNow", and registered by "DllRegisterServer" and
// "DllUnregisterServer". It uses nothing but the public headers and the
// runtime's exported functions.
#include "greeter.h"

#include <tavocom/component.h>

#include <string>

namespace {

// guide: greeter-class
// Objects alive plus factory references held; the library may be unloaded
// only when nothing holds it.
COM_ComponentLocks g_locks;

class Greeter final : public COM_ComponentObject<g_locks, IGreeter> {
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
    uint32_t m_count = 0;
};
// guide: end

// guide: greeter-entry
COM_ComponentFactory<Greeter, g_locks> g_factory;

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (*clsid != CLSID_Greeter) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(*iid, out);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }
// guide: end

namespace {

// guide: greeter-registration
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
// guide: end
