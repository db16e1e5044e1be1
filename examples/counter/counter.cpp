// guide: counter-component
// A complete component library: the Counter class with its factory, the
// two entry points activation needs, self-registration with a category,
// and the decoder that gives the texts of the component's own facility.
#include "counter.h"

#include <tavocom/component.h>

#include <cstdio>
#include <string>

namespace {

// Objects alive plus factory references held: CanUnloadNow answers S_OK
// only when nothing holds the library.
COM_ComponentLocks g_locks;

class Counter final : public COM_ComponentObject<g_locks, ICounter> {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == COM_IID_IUnknown || iid == IID_ICounter) {
            AddRef();
            *out = static_cast<ICounter*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    COM_HRESULT Add(uint32_t amount) override {
        if (amount > kLimit - m_total) return COUNTER_E_OVERFLOW;
        m_total += amount;
        return S_OK;
    }
    COM_HRESULT GetTotal(uint32_t* total) override {
        if (!total) return E_POINTER;
        *total = m_total;
        return S_OK;
    }

private:
    static constexpr uint32_t kLimit = 1000000;
    uint32_t m_total = 0;
};

// The runtime asks this class, through the "hresult" moniker, for the text
// of every code of facility 0x1A5.
class CounterErrors final : public COM_ComponentObject<g_locks, COM_IHResultDecoder> {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == COM_IID_IUnknown || iid == COM_IID_IHResultDecoder) {
            AddRef();
            *out = static_cast<COM_IHResultDecoder*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    COM_HRESULT Decode(COM_HRESULT code, void*, COM_BSTR* text) override {
        if (!text) return E_POINTER;
        // Not this component's code: a failure, never a success without text.
        if (COM_StatusFacility(code) != kCounterFacility) return E_INVALIDARG;
        const char* message = code == COUNTER_E_OVERFLOW    ? "the count would pass 1,000,000"
                              : code == COUNTER_E_NOT_READY ? "the counter is not ready"
                                                            : "unknown counter error";
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "Counter: %s [%08X]", message, unsigned(code));
        const std::basic_string<COM_WCHAR> wide(buffer, buffer + std::char_traits<char>::length(buffer));
        *text = COM_SysAllocStringLen(wide.data(), uint32_t(wide.size()));
        return *text ? S_OK : E_OUTOFMEMORY;
    }
};

COM_ComponentFactory<Counter, g_locks> g_counterFactory;
COM_ComponentFactory<CounterErrors, g_locks> g_errorsFactory;

// Counter in its category; CounterErrors under Moniker\hresult as the value
// 1A5 (the facility in hexadecimal), which it removes again only while the
// value still names it.
const COM_ClassCategory kCounterCategories[] = {{&CATID_Counters, COM_TEXT("Components that count")}, {}};
const COM_ClassRegistration kClasses[] = {
    {&CLSID_Counter, COM_TEXT("TavoSample.Counter"), COM_TEXT(COM_COMPONENT_FILE_NAME), COM_TEXT("Sample counter"),
     COM_TEXT("Counts up to a million"), nullptr, nullptr, kCounterCategories},
    {&CLSID_CounterErrors, COM_TEXT("TavoSample.CounterErrors"), COM_TEXT(COM_COMPONENT_FILE_NAME), nullptr, nullptr,
     COM_MONIKER_HRESULT, COM_TEXT("1A5"), nullptr, COM_REGISTER_KEEP_FOREIGN_MONIKER_ITEMS},
    {},
};

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (!clsid || !iid || !out) return E_POINTER;
    if (*clsid == CLSID_Counter) return g_counterFactory.QueryInterface(*iid, out);
    if (*clsid == CLSID_CounterErrors) return g_errorsFactory.QueryInterface(*iid, out);
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }

COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() { return COM_RegisterComponent(kClasses, 1); }
COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() { return COM_RegisterComponent(kClasses, 0); }
// guide: end
