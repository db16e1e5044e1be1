#include "registration/registration.h"

#include <tavocom/registration.h>

#include <cstring>

#include "core/ansi.h"
#include "core/module.h"
#include "platform/platform.h"

namespace tavo::registration {
namespace {

// The platform's longest path, with its terminator.
constexpr uint32_t kModuleNameBuffer = 261;

} // namespace

COM_HRESULT RegisterServer(int32_t flag) { return RegisterAllClasses(core::ClassMap(), flag); }

COM_HRESULT GetModuleName(COM_BSTR* out) {
    if (!out) return E_POINTER;
    char name[kModuleNameBuffer] = {};
    if (plat::GetModuleFileNameA(core::InstanceHandle(), name, sizeof name) == 0) return E_FAIL;
    name[sizeof name - 1] = 0;
    // Only a backslash separates directories in the platform's names.
    const char* slash = std::strrchr(name, '\\');
    COM_BSTR text = core::FromAnsi(slash ? slash + 1 : name);
    if (!text) return E_OUTOFMEMORY;
    *out = text;
    return S_OK;
}

COM_HRESULT RegisterClassEntries(const _COM_GUID& clsid, const COM_WCHAR* progid, int32_t flag,
                                 const COM_WCHAR* displayName, const COM_WCHAR* description,
                                 const COM_WCHAR* monikerName, const COM_WCHAR* monikerList) {
    utlAutoBstr module;
    if (flag) {
        COM_HRESULT hr = GetModuleName(module.Put());
        if (COM_FAILED(hr)) return hr;
    }
    return com_registration_detail::ClassEntries(clsid, progid, flag, module.Get(), displayName, description,
                                                 monikerName, monikerList, 0);
}

COM_HRESULT RegisterRegistryClass(int32_t flag) {
    return RegisterClassEntries(COM_CLSID_Registry, COM_TEXT("TelvaCOM.Registry"), flag, nullptr, nullptr, nullptr,
                                nullptr);
}

COM_HRESULT RegisterCategoryManagerClass(int32_t flag) {
    return RegisterClassEntries(COM_CLSID_CategoryManager, COM_TEXT("TelvaCategoryManager"), flag, nullptr, nullptr,
                                nullptr, nullptr);
}

COM_HRESULT RegisterMemoryClass(int32_t flag) {
    return RegisterClassEntries(COM_CLSID_Memory, COM_TEXT("TelvaCom.Memory"), flag, nullptr, nullptr, nullptr,
                                nullptr);
}

// Moniker\hresult names this class for the status decoders. The keys and
// the facility values under them are never removed: other components'
// decoders live there. When the class's removal took the whole class root
// with it, the keys come back empty and the DeleteValue fails.
COM_HRESULT RegisterDecoderBinderClass(int32_t flag) {
    COM_HRESULT entries = RegisterClassEntries(COM_CLSID_HResultDecoderBinder, COM_TEXT("TelvaCOM.Decoder"), flag,
                                               nullptr, nullptr, nullptr, nullptr);
    if (COM_FAILED(entries)) return entries;
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_FAILED(hr)) return hr;
    utlAutoBstr clsid;
    hr = COM_CLSIDToString(COM_CLSID_HResultDecoderBinder, clsid.Put());
    if (COM_FAILED(hr)) return hr;
    COM_IRegistry* r = registry.Get();
    if (!r) return E_POINTER;
    hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_MONIKER, 1);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_MONIKER_HRESULT, 1);
    if (COM_SUCCEEDED(hr)) {
        if (flag)
            hr = r->SetStringValue(COM_TEXT(""), clsid.Get());
        else if (entries == S_OK)
            hr = r->DeleteValue(COM_TEXT(""));
    }
    return COM_FAILED(hr) ? hr : S_OK;
}

} // namespace tavo::registration
