#include "decoding/binder.h"

#include <string>

#include "core/activation.h"
#include "core/raise.h"
#include "decoding/fallback.h"

namespace tavo::decoding {
namespace {

// Hands the extension text to the object just bound into `object`.
void ApplyExtension(void* object, const COM_WCHAR* extension) {
    // Every interface begins with the three operations of COM_IUnknown.
    utlAutoIf<COM_IUnknown> bound;
    if (auto* raw = static_cast<COM_IUnknown*>(object)) {
        raw->AddRef();
        bound.Reset(raw);
    }
    utlAutoIf<COM_IMonikerExtension> target;
    // A creation that reported success without an object raises here.
    if (COM_FAILED(bound->QueryInterface(COM_IID_IMonikerExtension, target.PutVoid())))
        core::Raise(COM_E_MONIKER_EXTENSION);
    core::Check(target->SetExtension(extension));
}

} // namespace

COM_CClassFactory<CHResultDecoderBinder> g_binderFactory;

COM_HRESULT CHResultDecoderBinder::QueryInterface(const _COM_GUID& iid, void** out) {
    const core::InterfaceEntry table[] = {{&COM_IID_IMoniker, this}};
    return core::QueryInterfaceTable(table, iid, out);
}
uint32_t CHResultDecoderBinder::AddRef() { return core::RefAddRef(m_refCount); }
uint32_t CHResultDecoderBinder::Release() { return core::RefRelease(m_refCount, this); }

COM_HRESULT CHResultDecoderBinder::Bind(const COM_WCHAR* rest, const _COM_GUID& iid, void** object) {
    if (!rest || !object) return E_POINTER;
    return BindResult(core::Guarded([&] {
        // Value name up to the first "!", extension text after it.
        const std::basic_string<COM_WCHAR> whole(rest);
        const size_t bang = whole.find(COM_WCHAR('!'));
        const std::basic_string<COM_WCHAR> valueName = whole.substr(0, bang);
        const std::basic_string<COM_WCHAR> extension =
            bang == whole.npos ? std::basic_string<COM_WCHAR>() : whole.substr(bang + 1);

        _COM_GUID clsid{};
        {
            utlAutoIf<COM_IRegistry> registry;
            core::Check(core::CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()));
            core::Check(COM_ReadClassRootClsid(&*registry, {nullptr, COM_KEY_MONIKER, COM_MONIKER_HRESULT},
                                               valueName.c_str(), &clsid));
        }
        // Straight into the caller's place: it stays there with its
        // reference even when the extension step below fails.
        core::Check(core::CreateInstance(clsid, 0, iid, object));
        if (!extension.empty()) ApplyExtension(*object, extension.c_str());
        return S_OK;
    }));
}

} // namespace tavo::decoding
