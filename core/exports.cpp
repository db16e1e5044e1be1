// The exported functions: each a thin entry into the subsystem that does
// the work.
#include <tavocom/library_entry.h>
#include <tavocom/tavocom.h>

#include "core/activation.h"
#include "core/classinfo.h"
#include "core/classmap.h"
#include "core/service_table.h"
#include "core/module.h"
#include "core/utility.h"
#include "decoding/decoding.h"
#include "errorinfo/errorinfo.h"
#include "registration/registration.h"
#include "platform/platform.h"

using namespace tavo;

extern "C" {

COM_HRESULT COM_CLSIDToString(const _COM_GUID& id, COM_BSTR* text) { return core::CLSIDToString(id, text); }

COM_HRESULT COM_StringToCLSID(const COM_WCHAR* text, _COM_GUID* id) { return plat::CLSIDFromString(text, id); }

COM_HRESULT COM_GenerateCLSID(_COM_GUID* id) { return plat::CoCreateGuid(id); }

COM_BSTR COM_SysAllocString(const COM_WCHAR* text) { return plat::SysAllocString(text); }
COM_BSTR COM_SysAllocStringByteLen(const char* bytes, uint32_t length) { return plat::SysAllocStringByteLen(bytes, length); }
COM_BSTR COM_SysAllocStringLen(const COM_WCHAR* text, uint32_t length) { return plat::SysAllocStringLen(text, length); }
int32_t COM_SysFreeString(COM_BSTR text) {
    plat::SysFreeString(text);
    return 1;
}
int32_t COM_SysReAllocString(COM_BSTR* target, const COM_WCHAR* text) { return plat::SysReAllocString(target, text); }
int32_t COM_SysReAllocStringLen(COM_BSTR* target, const COM_WCHAR* text, uint32_t length) {
    return plat::SysReAllocStringLen(target, text, length);
}
uint32_t COM_SysStringByteLen(COM_BSTR text) { return plat::SysStringByteLen(text); }
uint32_t COM_SysStringLen(COM_BSTR text) { return plat::SysStringLen(text); }

int32_t COM_TaskMemAlloc(size_t size, void** block) {
    *block = plat::CoTaskMemAlloc(size);
    return *block ? 0 : 1;
}
int32_t COM_TaskMemFree(void* block) {
    plat::CoTaskMemFree(block);
    return 0;
}

COM_HRESULT COM_GetSysStats(uint32_t* first, uint32_t* second) {
    *first = core::Stats().first;
    *second = core::Stats().second;
    return S_OK;
}
COM_HRESULT COM_ResetSysStats() {
    core::Stats() = {};
    return S_OK;
}
COM_HRESULT COM_Initialize() { return S_OK; }
COM_HRESULT COM_Uninitialize() { return S_OK; }

COM_HRESULT COM_CreateErrorInfo(COM_IErrorInfo** record) { return errorinfo::CreateErrorInfo(record); }
COM_HRESULT COM_SetErrorInfo(COM_IErrorInfo* record) { return errorinfo::SetErrorInfo(record); }
COM_HRESULT COM_GetErrorInfo(COM_IErrorInfo** record) { return errorinfo::GetErrorInfo(record); }
COM_HRESULT COM_ClearErrorInfo() { return errorinfo::ClearErrorInfo(); }

COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    return core::GetClassObject(*clsid, *iid, out);
}
COM_HRESULT CanUnloadNow() { return core::CanUnloadNow(); }

COM_HRESULT COM_GetClassFactory(const _COM_GUID& clsid, COM_IClassFactory** factory) {
    return core::GetClassFactory(clsid, factory);
}
COM_HRESULT COM_CreateInstance(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out) {
    return core::CreateInstance(clsid, context, iid, out);
}

COM_HRESULT COM_GetCLSIDFromProgID(const COM_WCHAR* progid, _COM_GUID* clsid) {
    return core::GetCLSIDFromProgID(progid, clsid);
}
COM_HRESULT COM_GetProgIDFromClsid(const _COM_GUID& clsid, COM_BSTR* text) {
    return core::GetClassEntryText(clsid, COM_KEY_PROGID, text);
}
COM_HRESULT COM_GetDisplayNameFromClsid(const _COM_GUID& clsid, COM_BSTR* text) {
    return core::GetClassEntryText(clsid, COM_KEY_DISPLAYNAME, text);
}
COM_HRESULT COM_GetDescriptionFromClsid(const _COM_GUID& clsid, COM_BSTR* text) {
    return core::GetClassEntryText(clsid, COM_KEY_DESCRIPTION, text);
}
COM_HRESULT COM_GetService(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out) {
    return core::GetService(clsid, context, iid, out);
}

COM_HRESULT COM_MkParseName(const COM_WCHAR* displayName, uint32_t* eaten, COM_IMoniker** moniker) {
    return decoding::MkParseName(displayName, eaten, moniker);
}
COM_HRESULT COM_DecodeHRESULT(COM_HRESULT code, void* reserved, COM_BSTR* text) {
    return decoding::DecodeHRESULT(code, reserved, text);
}

COM_HRESULT DllRegisterServer() { return registration::RegisterServer(1); }
COM_HRESULT DllUnregisterServer() { return registration::RegisterServer(0); }

} // extern "C"
