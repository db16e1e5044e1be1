// Self-registration for component libraries: the same class layout, install
// counts and category records as the runtime's own classes, written through
// the runtime's registry service and category manager only. A component's
// DllRegisterServer and DllUnregisterServer call COM_RegisterComponent.
#ifndef TAVOCOM_REGISTRATION_H
#define TAVOCOM_REGISTRATION_H

#include "class_entries.h"
#include "identifiers.h"

/// A category a class implements; a description, when given, is written
/// as the category's description at registration (replacing an earlier one).
struct COM_ClassCategory {
    const _COM_GUID* category; ///< null ends the list
    const COM_WCHAR* description;
};

/// One class of a component. Everything but clsid, progid and server may be
/// null: no display name, no description, no moniker entries, no categories.
struct COM_ClassRegistration {
    const _COM_GUID* clsid; ///< null ends the table
    const COM_WCHAR* progid;
    /// InprocServer32 text: the library's file, relative to the runtime's directory.
    const COM_WCHAR* server;
    const COM_WCHAR* displayName;
    const COM_WCHAR* description;
    /// Moniker prefix and its comma-separated items; written only when both are given.
    const COM_WCHAR* monikerName;
    const COM_WCHAR* monikerList;
    const COM_ClassCategory* categories;
};

namespace com_registration_detail {

// The moniker list's items in order: split at every comma, taken exactly;
// an empty list is one empty item. `each` gets a zero-terminated item.
template <class Each>
COM_HRESULT ForEachMonikerItem(const COM_WCHAR* list, Each each) {
    const COM_WCHAR* start = list;
    for (;;) {
        const COM_WCHAR* end = start;
        while (*end && *end != COM_WCHAR(',')) ++end;
        utlAutoBstr item(COM_SysAllocStringLen(start, uint32_t(end - start)));
        if (!item.Get()) return E_OUTOFMEMORY;
        COM_HRESULT hr = each(item.Get());
        if (COM_FAILED(hr)) return hr;
        if (!*end) return S_OK;
        start = end + 1;
    }
}

// Close, then back to CLSID\{clsid}.
inline COM_HRESULT ReopenClassKey(COM_IRegistry* r, const COM_WCHAR* clsid) {
    COM_HRESULT hr = r->Close();
    if (COM_SUCCEEDED(hr)) hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(COM_KEY_CLSID);
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(clsid);
    return hr;
}

// Writes the default value of CLSID\{clsid}\`subkey`.
inline COM_HRESULT WriteClassText(COM_IRegistry* r, const COM_WCHAR* clsid, const COM_WCHAR* subkey,
                                  const COM_WCHAR* text) {
    COM_HRESULT hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(COM_KEY_CLSID);
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(clsid);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(subkey, 1);
    if (COM_SUCCEEDED(hr)) hr = r->SetStringValue(COM_TEXT(""), text);
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    return hr;
}

// The install count of the current key's InstallCount subkey, which is
// created if missing. A missing or unreadable value counts as zero.
inline uint32_t ReadInstallCount(COM_IRegistry* r) {
    uint32_t count = 0;
    if (COM_FAILED(r->GetDWordValue(COM_TEXT(""), &count))) count = 0;
    return count;
}

inline COM_HRESULT Register(COM_IRegistry* r, const COM_WCHAR* clsid, const COM_WCHAR* progid,
                            const COM_WCHAR* server, const COM_WCHAR* displayName, const COM_WCHAR* description,
                            const COM_WCHAR* monikerName, const COM_WCHAR* monikerList) {
    COM_HRESULT hr = r->CreateKey(clsid, 1);
    if (COM_SUCCEEDED(hr)) hr = r->SetStringValue(COM_TEXT(""), progid);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_INPROCSERVER32, 1);
    if (COM_SUCCEEDED(hr)) hr = r->SetStringValue(COM_TEXT(""), server);
    if (COM_SUCCEEDED(hr)) hr = ReopenClassKey(r, clsid);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_PROGID, 1);
    if (COM_SUCCEEDED(hr)) hr = r->SetStringValue(COM_TEXT(""), progid);
    if (COM_SUCCEEDED(hr)) hr = ReopenClassKey(r, clsid);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_INSTALLCOUNT, 1);
    // Read and written back without a lock: two processes registering at
    // once can lose an increment.
    if (COM_SUCCEEDED(hr)) hr = r->SetDWordValue(COM_TEXT(""), ReadInstallCount(r) + 1);
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    if (COM_SUCCEEDED(hr) && displayName) hr = WriteClassText(r, clsid, COM_KEY_DISPLAYNAME, displayName);
    if (COM_SUCCEEDED(hr) && description) hr = WriteClassText(r, clsid, COM_KEY_DESCRIPTION, description);
    if (COM_SUCCEEDED(hr) && monikerName && monikerList) {
        hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
        if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_MONIKER, 1);
        if (COM_SUCCEEDED(hr)) hr = r->CreateKey(monikerName, 1);
        if (COM_SUCCEEDED(hr))
            hr = ForEachMonikerItem(monikerList, [&](const COM_WCHAR* item) { return r->SetStringValue(item, clsid); });
    }
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    if (COM_SUCCEEDED(hr)) hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(progid, 1);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_CLSID, 1);
    if (COM_SUCCEEDED(hr)) hr = r->SetStringValue(COM_TEXT(""), clsid);
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    return COM_FAILED(hr) ? hr : S_OK;
}

inline COM_HRESULT Unregister(COM_IRegistry* r, const COM_WCHAR* clsid, const COM_WCHAR* progid,
                              const COM_WCHAR* monikerName, const COM_WCHAR* monikerList) {
    COM_HRESULT hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(COM_KEY_CLSID);
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(clsid);
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_INSTALLCOUNT, 1);
    if (COM_FAILED(hr)) return hr;
    uint32_t count = ReadInstallCount(r);
    if (count > 0) {
        hr = r->SetDWordValue(COM_TEXT(""), --count);
        if (COM_FAILED(hr)) return hr;
        if (count > 0) {
            hr = r->Close();
            return COM_FAILED(hr) ? hr : S_FALSE;
        }
    }
    // The last registration is undone: the class goes.
    r->Close();
    hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(COM_KEY_CLSID);
    if (COM_SUCCEEDED(hr)) hr = r->DeleteKey(clsid);
    if (COM_SUCCEEDED(hr) && monikerName && monikerList) {
        hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
        if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_MONIKER, 1);
        if (COM_SUCCEEDED(hr)) hr = r->CreateKey(monikerName, 1);
        if (COM_SUCCEEDED(hr))
            hr = ForEachMonikerItem(monikerList, [&](const COM_WCHAR* item) { return r->DeleteValue(item); });
    }
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    if (COM_SUCCEEDED(hr)) hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->DeleteKey(progid);
    // With no class key left, the whole class root goes.
    if (COM_SUCCEEDED(hr)) hr = r->OpenKey(COM_KEY_CLSID);
    utlAutoIf<COM_IEnumBSTR> keys;
    if (COM_SUCCEEDED(hr)) hr = r->EnumKeys(keys.Put());
    uint32_t left = 0;
    if (COM_SUCCEEDED(hr)) hr = keys.Get() ? keys->GetCount(&left) : E_POINTER;
    if (COM_SUCCEEDED(hr) && left == 0) {
        r->Close();
        hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
        if (COM_SUCCEEDED(hr)) hr = r->DeleteKey(COM_TEXT(""));
    }
    keys.Reset(nullptr);
    if (COM_SUCCEEDED(hr)) hr = r->Close();
    return COM_FAILED(hr) ? hr : S_OK;
}

} // namespace com_registration_detail

/// Writes (flag non-zero) or removes (flag zero) the class entries of one
/// class under the class root. Each registration raises the install count;
/// each unregistration lowers it and removes the class, its ProgID key and
/// its moniker items only when it reaches zero. Returns 0 when done, 1 when
/// the class stays registered, or the first failing call's status; steps
/// already done stay done. `server` is needed only to register.
inline COM_HRESULT COM_RegisterClassEntries(const _COM_GUID& clsid, const COM_WCHAR* progid, int32_t flag,
                                            const COM_WCHAR* server, const COM_WCHAR* displayName,
                                            const COM_WCHAR* description, const COM_WCHAR* monikerName,
                                            const COM_WCHAR* monikerList) {
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_FAILED(hr)) return hr;
    utlAutoBstr clsidText;
    hr = COM_CLSIDToString(clsid, clsidText.Put());
    if (COM_FAILED(hr)) return hr;
    COM_IRegistry* r = registry.Get();
    if (!r) return E_POINTER;
    hr = r->Open(COM_REGROOT_CLASSES, COM_TEXT(""));
    if (COM_SUCCEEDED(hr)) hr = r->CreateKey(COM_KEY_CLSID, 1);
    if (COM_FAILED(hr)) return hr;
    if (flag)
        return com_registration_detail::Register(r, clsidText.Get(), progid, server, displayName, description,
                                                 monikerName, monikerList);
    return com_registration_detail::Unregister(r, clsidText.Get(), progid, monikerName, monikerList);
}

/// Registers or removes every class of `classes` (ended by a null clsid),
/// and each class's category records through the category manager. Every
/// class is processed whatever happened to the earlier ones. Returns 0 when
/// every step succeeded and 1 when any failed. Once a class stays registered
/// at unregistration (its count was above one), no later class's category
/// records are removed in this pass.
inline COM_HRESULT COM_RegisterComponent(const COM_ClassRegistration* classes, int32_t flag) {
    COM_HRESULT result = S_OK;
    bool removeCategories = true;
    utlAutoIf<COM_ICatRegister> manager;
    for (const COM_ClassRegistration* c = classes; c && c->clsid; ++c) {
        COM_HRESULT hr = COM_RegisterClassEntries(*c->clsid, c->progid, flag, c->server, c->displayName,
                                                  c->description, c->monikerName, c->monikerList);
        if (COM_FAILED(hr)) result = S_FALSE;
        if (!flag && hr == S_FALSE) removeCategories = false;
        if (!c->categories || !c->categories->category) continue;
        if (!manager.Get()) {
            hr = COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatRegister, manager.PutVoid());
            if (COM_FAILED(hr)) result = S_FALSE;
            if (!manager.Get()) continue;
        }
        for (const COM_ClassCategory* cat = c->categories; cat->category; ++cat) {
            if (flag) {
                hr = cat->description ? manager->RegisterCategory(*cat->category, cat->description) : S_OK;
                if (COM_SUCCEEDED(hr)) hr = manager->RegisterClassImplCategory(*cat->category, *c->clsid);
            } else {
                hr = removeCategories ? manager->UnRegisterClassImplCategory(*cat->category, *c->clsid) : S_OK;
            }
            if (COM_FAILED(hr)) result = S_FALSE;
        }
    }
    return result;
}

#endif
