#include "core/classinfo.h"

#include "core/activation.h"
#include "core/raise.h"

namespace tavo::core {
namespace {

COM_HRESULT NewRegistry(utlAutoIf<COM_IRegistry>& registry) {
    return CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
}

} // namespace

// The caller's record is written only by a successful parse.
COM_HRESULT GetCLSIDFromProgID(const COM_WCHAR* progid, _COM_GUID* clsid) {
    if (!progid || !*progid) return CLASS_E_CLASSNOTAVAILABLE;
    return COM_ClassLookupResult(Guarded([&] {
        utlAutoIf<COM_IRegistry> registry;
        Check(NewRegistry(registry));
        return COM_ReadClassRootClsid(registry.Get(), {progid, COM_KEY_CLSID}, COM_TEXT(""), clsid);
    }));
}

// Straight into the caller's place: a missing value leaves it null, a
// missing key untouched.
COM_HRESULT GetClassEntryText(const _COM_GUID& clsid, const COM_WCHAR* subkey, COM_BSTR* text) {
    return COM_ClassLookupResult(Guarded([&] {
        utlAutoIf<COM_IRegistry> registry;
        Check(NewRegistry(registry));
        return COM_ReadClassEntryText(registry.Get(), clsid, subkey, text);
    }));
}

} // namespace tavo::core
