#include "core/classinfo.h"

#include "core/activation.h"
#include "core/utility.h"
#include <new>

#include "platform/platform.h"

namespace tavo::core {
namespace {

COM_HRESULT NewRegistry(utlAutoIf<COM_IRegistry>& registry) {
    return CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
}

} // namespace

// Every failure, whatever its cause, is reported as the class not being
// available; the caller's record is written only by a successful parse.
COM_HRESULT GetCLSIDFromProgID(const COM_WCHAR* progid, _COM_GUID* clsid) {
    if (!progid || !*progid) return CLASS_E_CLASSNOTAVAILABLE;
    try {
        utlAutoIf<COM_IRegistry> registry;
        if (COM_FAILED(NewRegistry(registry))) return CLASS_E_CLASSNOTAVAILABLE;
        utlAutoBstr text;
        if (COM_FAILED(registry->Open(COM_REGROOT_CLASSES, progid)) || COM_FAILED(registry->OpenKey(COM_TEXT("CLSID"))) ||
            COM_FAILED(registry->GetStringValue(COM_TEXT(""), text.Put())))
            return CLASS_E_CLASSNOTAVAILABLE;
        _COM_GUID parsed{};
        if (COM_FAILED(plat::CLSIDFromString(text.Get(), &parsed))) return CLASS_E_CLASSNOTAVAILABLE;
        *clsid = parsed;
        return COM_FAILED(registry->Close()) ? CLASS_E_CLASSNOTAVAILABLE : S_OK;
    } catch (const std::bad_alloc&) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
}

COM_HRESULT GetClassEntryText(const _COM_GUID& clsid, const COM_WCHAR* subkey, COM_BSTR* text) {
    try {
        utlAutoIf<COM_IRegistry> registry;
        if (COM_FAILED(NewRegistry(registry))) return CLASS_E_CLASSNOTAVAILABLE;
        if (COM_FAILED(registry->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")))) return CLASS_E_CLASSNOTAVAILABLE;
        utlAutoBstr clsidText;
        if (COM_FAILED(CLSIDToString(clsid, clsidText.Put()))) return CLASS_E_CLASSNOTAVAILABLE;
        if (COM_FAILED(registry->OpenKey(clsidText.Get())) || COM_FAILED(registry->OpenKey(subkey)))
            return CLASS_E_CLASSNOTAVAILABLE;
        // Straight into the caller's place: a missing value leaves it null.
        if (COM_FAILED(registry->GetStringValue(COM_TEXT(""), text))) return CLASS_E_CLASSNOTAVAILABLE;
        if (COM_FAILED(registry->Close())) return CLASS_E_CLASSNOTAVAILABLE;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
}

} // namespace tavo::core
