// Self-registration: the class layout, install counts and category records,
// written through the runtime's registry service and category manager only.
// A component's DllRegisterServer and DllUnregisterServer call
// COM_RegisterComponent; the runtime registers its own classes with the same
// code.
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

/// Options of a class's registration, or-ed into COM_ClassRegistration::options.
enum : uint32_t {
    /// Unregistration removes a moniker item only while its value still
    /// names this class, so that a class registered for the item since then
    /// keeps it; a missing item is no failure then.
    COM_REGISTER_KEEP_FOREIGN_MONIKER_ITEMS = 1,
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
    uint32_t options = 0; ///< COM_REGISTER_... flags
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

// Whether moniker item `item` of the current key names class `id`.
inline bool ItemNamesClass(COM_IRegistry* r, const COM_WCHAR* item, const _COM_GUID& id) {
    utlAutoBstr text;
    _COM_GUID named{};
    return COM_SUCCEEDED(r->GetStringValue(item, text.Put())) && COM_SUCCEEDED(COM_StringToCLSID(text.Get(), &named)) &&
           named == id;
}

inline COM_HRESULT Unregister(COM_IRegistry* r, const _COM_GUID& id, const COM_WCHAR* clsid, const COM_WCHAR* progid,
                              const COM_WCHAR* monikerName, const COM_WCHAR* monikerList, uint32_t options) {
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
            hr = ForEachMonikerItem(monikerList, [&](const COM_WCHAR* item) {
                if ((options & COM_REGISTER_KEEP_FOREIGN_MONIKER_ITEMS) && !ItemNamesClass(r, item, id)) return S_OK;
                return r->DeleteValue(item);
            });
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

// The steps of COM_RegisterClassEntries, inside the caller's transaction.
inline COM_HRESULT ClassEntries(const _COM_GUID& clsid, const COM_WCHAR* progid, int32_t flag, const COM_WCHAR* server,
                                const COM_WCHAR* displayName, const COM_WCHAR* description,
                                const COM_WCHAR* monikerName, const COM_WCHAR* monikerList, uint32_t options) {
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
    if (flag) return Register(r, clsidText.Get(), progid, server, displayName, description, monikerName, monikerList);
    return Unregister(r, clsid, clsidText.Get(), progid, monikerName, monikerList, options);
}

/// One store transaction on the class root's hive around a registration:
/// another process sees all of it or none, and no other registration comes
/// between the read of an install count and its write, or between the
/// count of the remaining classes and the removal of the class root.
/// Dropped unless committed. Where none can be begun (a hive that may not
/// be written; one of this process open already, which the steps then
/// join), the steps run without one of their own.
class Transaction {
public:
    Transaction() noexcept {
        if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistryBatch, m_batch.PutVoid()))) return;
        if (!m_batch.Get() || COM_FAILED(m_batch->Begin(COM_REGROOT_CLASSES))) m_batch.Reset(nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// `status` of the steps, or the commit's failure: a step that failed
    /// in the store itself (not one answered "not found") drops them all.
    COM_HRESULT Commit(COM_HRESULT status) {
        if (!m_batch.Get()) return status;
        const COM_HRESULT committed = m_batch->Commit();
        m_batch.Reset(nullptr);
        return COM_FAILED(committed) ? committed : status;
    }

private:
    utlAutoIf<COM_IRegistryBatch> m_batch;
};

/// One pass over the classes of a library: one transaction, one category
/// manager, one result (0 when every step succeeded, else 1).
class Pass {
public:
    explicit Pass(int32_t flag) noexcept : m_flag(flag) {}
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    /// The status of one class's own entries. Once a class stays
    /// registered at unregistration (status 1), no later class's category
    /// records are removed in this pass.
    void ClassDone(COM_HRESULT hr) {
        Note(hr);
        if (!m_flag && hr == S_FALSE) m_removeCategories = false;
    }

    /// Records class `clsid` as a member of each category that `categories`
    /// hands to its callback (registration), or removes those records. A
    /// category's description, where one is handed over, replaces its own
    /// at registration. The category manager is made at the first list.
    template <class Categories>
    void ClassCategories(const _COM_GUID& clsid, const Categories& categories) {
        if (!m_manager.Get()) {
            Note(COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatRegister, m_manager.PutVoid()));
            if (!m_manager.Get()) return;
        }
        categories([&](const _COM_GUID& category, const COM_WCHAR* description) {
            COM_HRESULT hr = S_OK;
            if (m_flag) {
                if (description) hr = m_manager->RegisterCategory(category, description);
                if (COM_SUCCEEDED(hr)) hr = m_manager->RegisterClassImplCategory(category, clsid);
            } else if (m_removeCategories) {
                hr = m_manager->UnRegisterClassImplCategory(category, clsid);
            }
            Note(hr);
        });
    }

    /// Releases the category manager and commits: the pass's result.
    COM_HRESULT Finish() {
        m_manager.Reset(nullptr);
        return COM_FAILED(m_transaction.Commit(S_OK)) ? S_FALSE : m_result;
    }

private:
    void Note(COM_HRESULT hr) noexcept {
        if (COM_FAILED(hr)) m_result = S_FALSE;
    }

    Transaction m_transaction; // first in, last out: begun before any step
    int32_t m_flag;
    bool m_removeCategories = true;
    COM_HRESULT m_result = S_OK;
    utlAutoIf<COM_ICatRegister> m_manager;
};

} // namespace com_registration_detail

/// Writes (flag non-zero) or removes (flag zero) the class entries of one
/// class under the class root, as one store transaction. Each registration
/// raises the install count; each unregistration lowers it and removes the
/// class, its ProgID key and its moniker items only when it reaches zero.
/// Returns 0 when done, 1 when the class stays registered, or the first
/// failing call's status; steps already done stay done, unless a change
/// failed inside the store itself, which drops them all. `server` is needed
/// only to register; `options` are COM_REGISTER_... flags.
inline COM_HRESULT COM_RegisterClassEntries(const _COM_GUID& clsid, const COM_WCHAR* progid, int32_t flag,
                                            const COM_WCHAR* server, const COM_WCHAR* displayName,
                                            const COM_WCHAR* description, const COM_WCHAR* monikerName,
                                            const COM_WCHAR* monikerList, uint32_t options = 0) {
    com_registration_detail::Transaction transaction;
    return transaction.Commit(com_registration_detail::ClassEntries(clsid, progid, flag, server, displayName,
                                                                     description, monikerName, monikerList, options));
}

/// Registers or removes every class of `classes` (ended by a null clsid),
/// and each class's category records through the category manager, as one
/// store transaction. Every class is processed whatever happened to the
/// earlier ones. Returns 0 when every step succeeded and 1 when any failed.
/// Once a class stays registered at unregistration (its count was above
/// one), no later class's category records are removed in this pass.
inline COM_HRESULT COM_RegisterComponent(const COM_ClassRegistration* classes, int32_t flag) {
    com_registration_detail::Pass pass(flag);
    for (const COM_ClassRegistration* c = classes; c && c->clsid; ++c) {
        pass.ClassDone(com_registration_detail::ClassEntries(*c->clsid, c->progid, flag, c->server, c->displayName,
                                                             c->description, c->monikerName, c->monikerList,
                                                             c->options));
        if (!c->categories || !c->categories->category) continue;
        pass.ClassCategories(*c->clsid, [c](auto each) {
            for (const COM_ClassCategory* cat = c->categories; cat->category; ++cat) each(*cat->category, cat->description);
        });
    }
    return pass.Finish();
}

#endif
