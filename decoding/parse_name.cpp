// COM_MkParseName: from a display name "prefix:rest" to a new object of
// the moniker class registered for the prefix.
#include "decoding/decoding.h"

#include <string>

#include "core/activation.h"
#include "core/raise.h"

namespace tavo::decoding {
namespace {

// The moniker class registered under Moniker\<prefix>.
COM_HRESULT FindMonikerClass(const COM_WCHAR* prefix, size_t length, _COM_GUID* clsid) {
    return core::Guarded([&] {
        // Taken as the key path it is: a backslash in it walks further down.
        const std::basic_string<COM_WCHAR> name(prefix, length);
        utlAutoIf<COM_IRegistry> registry;
        core::Check(core::CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()));
        return COM_ReadClassRootClsid(&*registry, {COM_KEY_MONIKER, name.c_str()}, COM_TEXT(""), clsid);
    });
}

} // namespace

COM_HRESULT MkParseName(const COM_WCHAR* displayName, uint32_t* eaten, COM_IMoniker** moniker) {
    if (!displayName || !eaten || !moniker) return E_POINTER;
    const COM_WCHAR* colon = displayName;
    while (*colon && *colon != COM_WCHAR(':')) ++colon;
    if (*colon != COM_WCHAR(':') || colon == displayName) return CLASS_E_CLASSNOTAVAILABLE;

    const size_t prefixLength = size_t(colon - displayName);
    _COM_GUID clsid{};
    if (COM_HRESULT hr = COM_ClassLookupResult(FindMonikerClass(displayName, prefixLength, &clsid)); COM_FAILED(hr))
        return hr;
    // Reported before the creation, which may still fail.
    *eaten = uint32_t(prefixLength + 1);
    return core::CreateInstance(clsid, 0, COM_IID_IMoniker, reinterpret_cast<void**>(moniker));
}

} // namespace tavo::decoding
