// Automation strings, identifiers and task memory: the platform's own calls.
#include "platform/platform.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace tavo::plat {

COM_BSTR SysAllocString(const COM_WCHAR* text) { return ::SysAllocString(text); }
COM_BSTR SysAllocStringLen(const COM_WCHAR* text, uint32_t length) { return ::SysAllocStringLen(text, length); }
COM_BSTR SysAllocStringByteLen(const char* bytes, uint32_t length) { return reinterpret_cast<COM_BSTR>(::SysAllocStringByteLen(bytes, length)); }
int32_t SysReAllocString(COM_BSTR* target, const COM_WCHAR* text) { return ::SysReAllocString(target, text); }
int32_t SysReAllocStringLen(COM_BSTR* target, const COM_WCHAR* text, uint32_t length) { return ::SysReAllocStringLen(target, text, length); }
void SysFreeString(COM_BSTR text) { ::SysFreeString(text); }
uint32_t SysStringLen(COM_BSTR text) { return ::SysStringLen(text); }
uint32_t SysStringByteLen(COM_BSTR text) { return ::SysStringByteLen(text); }

COM_HRESULT StringFromCLSID(const _COM_GUID& id, COM_WCHAR** text) {
    return ::StringFromCLSID(reinterpret_cast<const GUID&>(id), text);
}
COM_HRESULT CLSIDFromString(const COM_WCHAR* text, _COM_GUID* id) {
    return ::CLSIDFromString(const_cast<LPOLESTR>(text), reinterpret_cast<GUID*>(id));
}
COM_HRESULT CoCreateGuid(_COM_GUID* id) { return ::CoCreateGuid(reinterpret_cast<GUID*>(id)); }

void* CoTaskMemAlloc(size_t size) { return ::CoTaskMemAlloc(size); }
void CoTaskMemFree(void* block) { ::CoTaskMemFree(block); }

} // namespace tavo::plat
