// The registry layout of a registered class under the product's class
// root, and one reader of it. The runtime, its tool and every component's
// registration code use these names, so the layout is spelled once.
#ifndef TAVOCOM_CLASS_ENTRIES_H
#define TAVOCOM_CLASS_ENTRIES_H

#include "autoif.h"

#include <initializer_list>

// Keys below the class root (root selector COM_REGROOT_CLASSES).
//   CLSID\{clsid}                   default: ProgID
//   CLSID\{clsid}\InprocServer32    default: library file, relative to the runtime's directory
//   CLSID\{clsid}\ProgID            default: ProgID
//   CLSID\{clsid}\InstallCount      default: REG_DWORD, registrations not yet undone
//   CLSID\{clsid}\DisplayName       default: display name (optional)
//   CLSID\{clsid}\Description       default: description (optional)
//   {progid}\CLSID                  default: {clsid}
//   Moniker\{prefix}                default: {clsid} of the moniker class; named values per item
//   ComponentCategories\{catid}     default: description; one subkey per member class
inline constexpr COM_WCHAR COM_KEY_CLSID[] = COM_TEXT("CLSID");
inline constexpr COM_WCHAR COM_KEY_INPROCSERVER32[] = COM_TEXT("InprocServer32");
inline constexpr COM_WCHAR COM_KEY_PROGID[] = COM_TEXT("ProgID");
inline constexpr COM_WCHAR COM_KEY_INSTALLCOUNT[] = COM_TEXT("InstallCount");
inline constexpr COM_WCHAR COM_KEY_DISPLAYNAME[] = COM_TEXT("DisplayName");
inline constexpr COM_WCHAR COM_KEY_DESCRIPTION[] = COM_TEXT("Description");
inline constexpr COM_WCHAR COM_KEY_MONIKER[] = COM_TEXT("Moniker");
inline constexpr COM_WCHAR COM_KEY_CATEGORIES[] = COM_TEXT("ComponentCategories");
/// The moniker prefix under which status decoders are found.
inline constexpr COM_WCHAR COM_MONIKER_HRESULT[] = COM_TEXT("hresult");

/// The one rule for lookups of class entries: whatever made a lookup fail
/// (missing key or value, unreadable registry, malformed text, no memory),
/// the caller is told that the class is not available.
inline COM_HRESULT COM_ClassLookupResult(COM_HRESULT status) noexcept {
    return COM_FAILED(status) ? CLASS_E_CLASSNOTAVAILABLE : S_OK;
}

/// Moves `registry` to the key reached from the class root through `path`:
/// Open(COM_REGROOT_CLASSES, first) then OpenKey of each further part (a
/// part may hold several levels). Returns the first failing status.
inline COM_HRESULT COM_OpenClassRootPath(COM_IRegistry* registry, std::initializer_list<const COM_WCHAR*> path) {
    const COM_WCHAR* const* part = path.begin();
    COM_HRESULT hr = registry->Open(COM_REGROOT_CLASSES, part == path.end() ? nullptr : *part++);
    for (; COM_SUCCEEDED(hr) && part != path.end(); ++part) hr = registry->OpenKey(*part);
    return hr;
}

/// Moves `registry` to CLSID\{clsid}\`subkey` (null `subkey`: the class key).
inline COM_HRESULT COM_OpenClassEntry(COM_IRegistry* registry, const _COM_GUID& clsid, const COM_WCHAR* subkey) {
    COM_HRESULT hr = registry->Open(COM_REGROOT_CLASSES, COM_KEY_CLSID);
    if (COM_FAILED(hr)) return hr;
    utlAutoBstr text;
    hr = COM_CLSIDToString(clsid, text.Put());
    if (COM_SUCCEEDED(hr)) hr = registry->OpenKey(text.Get());
    if (COM_SUCCEEDED(hr) && subkey) hr = registry->OpenKey(subkey);
    return hr;
}

/// Reads string value `value` (empty: the default value) of the key that
/// `path` reaches from the class root, then closes it. `text` is written by
/// GetStringValue alone: untouched when a key is missing, null when the
/// value is. Returns the first failing status, Close's included.
inline COM_HRESULT COM_ReadClassRootText(COM_IRegistry* registry, std::initializer_list<const COM_WCHAR*> path,
                                         const COM_WCHAR* value, COM_BSTR* text) {
    COM_HRESULT hr = COM_OpenClassRootPath(registry, path);
    if (COM_SUCCEEDED(hr)) hr = registry->GetStringValue(value, text);
    if (COM_SUCCEEDED(hr)) hr = registry->Close();
    return hr;
}

/// Reads the default value of CLSID\{clsid}\`subkey` into `text`, with the
/// same rules as COM_ReadClassRootText.
inline COM_HRESULT COM_ReadClassEntryText(COM_IRegistry* registry, const _COM_GUID& clsid, const COM_WCHAR* subkey,
                                          COM_BSTR* text) {
    COM_HRESULT hr = COM_OpenClassEntry(registry, clsid, subkey);
    if (COM_SUCCEEDED(hr)) hr = registry->GetStringValue(COM_TEXT(""), text);
    if (COM_SUCCEEDED(hr)) hr = registry->Close();
    return hr;
}

/// Reads an identifier text as COM_ReadClassRootText does and parses it;
/// `clsid` is written only when the whole read succeeded.
inline COM_HRESULT COM_ReadClassRootClsid(COM_IRegistry* registry, std::initializer_list<const COM_WCHAR*> path,
                                          const COM_WCHAR* value, _COM_GUID* clsid) {
    utlAutoBstr text;
    COM_HRESULT hr = COM_ReadClassRootText(registry, path, value, text.Put());
    if (COM_FAILED(hr)) return hr;
    _COM_GUID parsed{};
    hr = COM_StringToCLSID(text.Get(), &parsed);
    if (COM_SUCCEEDED(hr)) *clsid = parsed;
    return hr;
}

#endif
