#include "core/activation.h"

#include <optional>
#include <string_view>

#include "core/classmap.h"
#include "core/library_path.h"
#include "core/raise.h"
#include "core/utility.h"
#include "errorinfo/errorinfo.h"
#include "platform/platform.h"
#include "registry/registry.h"

namespace tavo::core {
namespace {

const COM_WCHAR kErrorSource[] = COM_TEXT("RADA_API:COM_CreateInstance");

using WString = std::basic_string<COM_WCHAR>;
using WView = std::basic_string_view<COM_WCHAR>;

// Looked up once: the library's directory cannot change while it is loaded.
const std::optional<WString>& LibraryDirectory() {
    static const std::optional<WString> directory = RuntimeDirectory();
    return directory;
}

// The class's library file name from its InprocServer32 entry, through
// a registry object made here rather than by activation.
COM_HRESULT ReadServerEntry(const _COM_GUID& clsid, utlAutoBstr& fileName) {
    return Guarded([&] {
        utlAutoIf<COM_IRegistry> registry;
        Check(registry::CreateRegistryObject(registry.Put()));
        return COM_ReadClassEntryText(registry.Get(), clsid, COM_KEY_INPROCSERVER32, fileName.Put());
    });
}

// The record a failed lookup leaves: the class identifier's text and the
// activation source. The current record is replaced only by a complete one.
void RecordClassNotAvailable(const _COM_GUID& clsid) noexcept {
    utlAutoIf<COM_IErrorInfo> record;
    if (errorinfo::CreateErrorInfo(record.Put()) != S_OK) return;
    utlAutoBstr text;
    if (CLSIDToString(clsid, text.Put()) != S_OK) return;
    record->SetDescription(text.Get());
    record->SetSource(kErrorSource);
    errorinfo::SetErrorInfo(record.Get());
}

COM_HRESULT LoadAndAsk(const _COM_GUID& clsid, WView fileName, COM_IClassFactory** factory) {
    const std::optional<WString>& directory = LibraryDirectory();
    if (!directory) return CO_E_DLLNOTFOUND;
    plat::LibraryLoad library(plat::LoadLibraryW(ComponentPath(*directory, fileName).c_str()));
    if (!library.Get()) return CO_E_DLLNOTFOUND;
    auto getClassObject = reinterpret_cast<COM_PFN_GetClassObject>(plat::GetProcAddress(library.Get(), "GetClassObject"));
    void* canUnloadNow = plat::GetProcAddress(library.Get(), "CanUnloadNow");
    if (!getClassObject || !canUnloadNow) return CO_E_ERRORINDLL; // unloaded by the owner
    // A library that was asked stays loaded for the life of the process.
    library.Release();
    return getClassObject(&clsid, &COM_IID_IClassFactory, reinterpret_cast<void**>(factory));
}

} // namespace

COM_HRESULT GetClassFactory(const _COM_GUID& clsid, COM_IClassFactory** factory) {
    COM_HRESULT hr = GetClassObject(clsid, COM_IID_IClassFactory, reinterpret_cast<void**>(factory));
    if (COM_SUCCEEDED(hr)) return hr;

    utlAutoBstr fileName;
    if (COM_ClassLookupResult(ReadServerEntry(clsid, fileName)) == CLASS_E_CLASSNOTAVAILABLE) {
        RecordClassNotAvailable(clsid);
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return Guarded([&] {
        // The text up to its terminator: the recorded length may count it.
        const COM_WCHAR* name = fileName.Get() ? fileName.Get() : COM_TEXT("");
        return LoadAndAsk(clsid, WView(name), factory);
    });
}

COM_HRESULT CreateInstance(const _COM_GUID& clsid, int32_t /*context*/, const _COM_GUID& iid, void** out) {
    // A class of this library: its factory is static and its references
    // only move the module count up and down again, so it is asked directly.
    if (COM_IClassFactory* own = FindClassFactory(clsid)) return own->CreateInstance(iid, out);

    utlAutoIf<COM_IClassFactory> factory;
    COM_HRESULT hr = GetClassFactory(clsid, factory.Put());
    if (COM_FAILED(hr)) return hr;
    // A success without a factory raises XBadPtrException here.
    return factory->CreateInstance(iid, out);
}

} // namespace tavo::core
