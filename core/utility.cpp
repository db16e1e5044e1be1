#include "core/utility.h"

#include "platform/platform.h"

namespace tavo::core {

COM_HRESULT CLSIDToString(const _COM_GUID& id, COM_BSTR* text) noexcept {
    COM_WCHAR* taskText = nullptr;
    COM_HRESULT hr = plat::StringFromCLSID(id, &taskText);
    if (COM_FAILED(hr)) return hr;
    *text = plat::SysAllocString(taskText);
    plat::CoTaskMemFree(taskText);
    return hr;
}

} // namespace tavo::core
