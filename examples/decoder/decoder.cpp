// A component library of the product: the status decoder of facility 0x6F.
// The runtime finds it through the "hresult" moniker once it is registered
// under Moniker\hresult; bound with an extension text ("hresult:6F!short"
// or "!long") it gives the short or the long form of its texts. Its
// DllRegisterServer and DllUnregisterServer write and remove its entries
// through the runtime's registry service.
#include "decoder.h"

#include <tavocom/component.h>

#include <cstdio>
#include <initializer_list>
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
        if (((uint32_t(code) >> 16) & 0x1FFF) != 0x6F) return E_INVALIDARG;
        const uint32_t number = uint32_t(code) & 0xFFFF;
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

WString ClsidText() {
    utlAutoBstr text;
    if (COM_FAILED(COM_CLSIDToString(CLSID_TavoDecoder, text.Put()))) return WString();
    return WString(text.Get());
}

WString Path(std::initializer_list<const COM_WCHAR*> parts) {
    WString path;
    for (const COM_WCHAR* part : parts) {
        if (!path.empty()) path += COM_WCHAR('\\');
        path += part;
    }
    return path;
}

// Creates `path` below the class root and sets one string value in it.
COM_HRESULT SetClassRootText(COM_IRegistry* registry, const WString& path, const COM_WCHAR* name, const WString& text) {
    COM_HRESULT hr = registry->Open(COM_REGROOT_CLASSES, nullptr);
    if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(path.c_str(), 1);
    if (COM_SUCCEEDED(hr)) hr = registry->SetStringValue(name, text.c_str());
    return hr;
}

// A key or value that is not there any more counts as removed.
COM_HRESULT Removed(COM_HRESULT hr) { return hr == COM_STATUS_FROM_WIN32(2) ? S_OK : hr; }

utlAutoIf<COM_IRegistry> NewRegistry(COM_HRESULT* hr) {
    utlAutoIf<COM_IRegistry> registry;
    *hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    return registry;
}

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (*clsid != CLSID_TavoDecoder) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(*iid, out);
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_locks.CanUnloadNow(); }

// guide: decoder-registration
// CLSID\{clsid} (ProgID), its InprocServer32 (this library's file name,
// relative to the runtime's directory) and ProgID, {progid}\CLSID, and the
// facility value under Moniker\hresult.
COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() {
    COM_HRESULT hr = S_OK;
    utlAutoIf<COM_IRegistry> registry = NewRegistry(&hr);
    if (COM_FAILED(hr)) return hr;
    const WString clsid = ClsidText();
    if (clsid.empty()) return E_OUTOFMEMORY;
    const WString progid(kTavoDecoderProgID);
    const WString classKey = Path({COM_KEY_CLSID, clsid.c_str()});
    hr = SetClassRootText(registry.Get(), classKey, COM_TEXT(""), progid);
    if (COM_SUCCEEDED(hr))
        hr = SetClassRootText(registry.Get(), Path({classKey.c_str(), COM_KEY_INPROCSERVER32}), COM_TEXT(""),
                              Widen(TAVOCOM_DECODER_FILE));
    if (COM_SUCCEEDED(hr)) hr = SetClassRootText(registry.Get(), Path({classKey.c_str(), COM_KEY_PROGID}), COM_TEXT(""), progid);
    if (COM_SUCCEEDED(hr)) hr = SetClassRootText(registry.Get(), Path({progid.c_str(), COM_KEY_CLSID}), COM_TEXT(""), clsid);
    if (COM_SUCCEEDED(hr))
        hr = SetClassRootText(registry.Get(), Path({COM_KEY_MONIKER, COM_MONIKER_HRESULT}), kTavoDecoderFacility, clsid);
    return COM_SUCCEEDED(hr) ? S_OK : hr;
}
// guide: end

// Removes what DllRegisterServer wrote; the facility value only while it
// still names this class, so that another decoder registered over it stays.
COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() {
    COM_HRESULT hr = S_OK;
    utlAutoIf<COM_IRegistry> registry = NewRegistry(&hr);
    if (COM_FAILED(hr)) return hr;
    const WString clsid = ClsidText();
    if (clsid.empty()) return E_OUTOFMEMORY;

    utlAutoBstr registered;
    if (COM_SUCCEEDED(COM_ReadClassRootText(registry.Get(), {COM_KEY_MONIKER, COM_MONIKER_HRESULT}, kTavoDecoderFacility,
                                            registered.Put())) &&
        registered.Get() && clsid == registered.Get()) {
        hr = COM_OpenClassRootPath(registry.Get(), {COM_KEY_MONIKER, COM_MONIKER_HRESULT});
        if (COM_SUCCEEDED(hr)) hr = Removed(registry->DeleteValue(kTavoDecoderFacility));
    }
    COM_HRESULT step = COM_OpenClassRootPath(registry.Get(), {COM_KEY_CLSID});
    if (COM_SUCCEEDED(step)) step = registry->DeleteKey(clsid.c_str());
    if (COM_SUCCEEDED(hr)) hr = Removed(step);
    step = registry->Open(COM_REGROOT_CLASSES, nullptr);
    if (COM_SUCCEEDED(step)) step = registry->DeleteKey(kTavoDecoderProgID);
    if (COM_SUCCEEDED(hr)) hr = Removed(step);
    return COM_SUCCEEDED(hr) ? S_OK : hr;
}
