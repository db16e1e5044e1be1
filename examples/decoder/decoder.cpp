// A component library of the product: the status decoder of facility 0x6F.
// The runtime finds it through the "hresult" moniker once it is registered
// under Moniker\hresult; bound with an extension text ("hresult:6F!short"
// or "!long") it gives the short or the long form of its texts. Its
// DllRegisterServer and DllUnregisterServer write and remove its entries
// with the runtime's registration helper.
#include "decoder.h"

#include <tavocom/component.h>

#include <cstdio>
#include <iterator>
#include <string>

namespace {

using WString = std::basic_string<COM_WCHAR>;

// Objects alive plus factory references held.
COM_ComponentLocks g_locks;

// The codes this component reports, by their low 16 bits.
const char* const kMessages[] = {
    nullptr,
    "Component is not initialised",
    "Configuration is missing",
    "Request was cancelled",
    "Resource is locked by another session",
    "Session has expired",
};

WString Widen(const char* ascii) { return WString(ascii, ascii + std::char_traits<char>::length(ascii)); }

// guide: decoder-decode
class TavoDecoder final : public COM_ComponentObject<g_locks, COM_IHResultDecoder, COM_IMonikerExtension> {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (iid == COM_IID_IUnknown || iid == COM_IID_IHResultDecoder) {
            *out = static_cast<COM_IHResultDecoder*>(this);
        } else if (iid == COM_IID_IMonikerExtension) {
            *out = static_cast<COM_IMonikerExtension*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // "short": the message alone; "long" (the default): number, message
    // and code.
    COM_HRESULT SetExtension(const COM_WCHAR* text) override {
        if (!text) return E_POINTER;
        const WString form(text);
        if (form == COM_TEXT("short")) {
            m_short = true;
        } else if (form == COM_TEXT("long")) {
            m_short = false;
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    }

    COM_HRESULT Decode(COM_HRESULT code, void*, COM_BSTR* text) override {
        if (!text) return E_POINTER;
        if (COM_StatusFacility(code) != 0x6F) return E_INVALIDARG;
        const uint32_t number = COM_StatusCode(code);
        const char* message = number < std::size(kMessages) ? kMessages[number] : nullptr;
        char buffer[128];
        if (m_short && message)
            std::snprintf(buffer, sizeof buffer, "%s", message);
        else if (m_short)
            std::snprintf(buffer, sizeof buffer, "TAVO error #%u", number);
        else
            std::snprintf(buffer, sizeof buffer, "TAVO error #%u: %s [%08X]", number, message ? message : "no description",
                          uint32_t(code));
        const WString wide = Widen(buffer);
        *text = COM_SysAllocStringLen(wide.data(), uint32_t(wide.size()));
        return *text ? S_OK : E_OUTOFMEMORY;
    }
    // guide: end

private:
    bool m_short = false;
};

COM_ComponentFactory<TavoDecoder, g_locks> g_factory;

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (*clsid != CLSID_TavoDecoder) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(*iid, out);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }

// guide: decoder-registration
namespace {

// Besides the class entries, the value 6F under Moniker\hresult naming the
// class. Its removal leaves the value to a decoder that was registered for
// the facility since.
const COM_ClassRegistration kClasses[] = {
    {&CLSID_TavoDecoder, kTavoDecoderProgID, COM_TEXT(COM_COMPONENT_FILE_NAME), nullptr, nullptr, COM_MONIKER_HRESULT,
     kTavoDecoderFacility, nullptr, COM_REGISTER_KEEP_FOREIGN_MONIKER_ITEMS},
    {},
};

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() { return COM_RegisterComponent(kClasses, 1); }

COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() { return COM_RegisterComponent(kClasses, 0); }
// guide: end
