// The functions exported by name from TAVOCOM64.
#ifndef TAVOCOM_EXPORTS_H
#define TAVOCOM_EXPORTS_H

#include "interfaces.h"

extern "C" {

TAVOCOM_API COM_HRESULT COM_CLSIDToString(const _COM_GUID& id, COM_BSTR* text);
TAVOCOM_API COM_HRESULT COM_ClearErrorInfo();
TAVOCOM_API COM_HRESULT COM_CreateErrorInfo(COM_IErrorInfo** record);
TAVOCOM_API COM_HRESULT COM_CreateInstance(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out);
TAVOCOM_API COM_HRESULT COM_DecodeHRESULT(COM_HRESULT code, void* reserved, COM_BSTR* text);
TAVOCOM_API COM_HRESULT COM_GenerateCLSID(_COM_GUID* id);
TAVOCOM_API COM_HRESULT COM_GetCLSIDFromProgID(const COM_WCHAR* progid, _COM_GUID* clsid);
TAVOCOM_API COM_HRESULT COM_GetClassFactory(const _COM_GUID& clsid, COM_IClassFactory** factory);
TAVOCOM_API COM_HRESULT COM_GetDescriptionFromClsid(const _COM_GUID& clsid, COM_BSTR* text);
TAVOCOM_API COM_HRESULT COM_GetDisplayNameFromClsid(const _COM_GUID& clsid, COM_BSTR* text);
TAVOCOM_API COM_HRESULT COM_GetErrorInfo(COM_IErrorInfo** record);
TAVOCOM_API COM_HRESULT COM_GetProgIDFromClsid(const _COM_GUID& clsid, COM_BSTR* text);
TAVOCOM_API COM_HRESULT COM_GetService(const _COM_GUID& clsid, int32_t context, const _COM_GUID& iid, void** out);
TAVOCOM_API COM_HRESULT COM_GetSysStats(uint32_t* first, uint32_t* second);
TAVOCOM_API COM_HRESULT COM_Initialize();
TAVOCOM_API COM_HRESULT COM_MkParseName(const COM_WCHAR* displayName, uint32_t* eaten, COM_IMoniker** moniker);
TAVOCOM_API COM_HRESULT COM_ResetSysStats();
TAVOCOM_API COM_HRESULT COM_SetErrorInfo(COM_IErrorInfo* record);
TAVOCOM_API COM_HRESULT COM_StringToCLSID(const COM_WCHAR* text, _COM_GUID* id);
TAVOCOM_API COM_BSTR COM_SysAllocString(const COM_WCHAR* text);
TAVOCOM_API COM_BSTR COM_SysAllocStringByteLen(const char* bytes, uint32_t length);
TAVOCOM_API COM_BSTR COM_SysAllocStringLen(const COM_WCHAR* text, uint32_t length);
TAVOCOM_API int32_t COM_SysFreeString(COM_BSTR text);
TAVOCOM_API int32_t COM_SysReAllocString(COM_BSTR* target, const COM_WCHAR* text);
TAVOCOM_API int32_t COM_SysReAllocStringLen(COM_BSTR* target, const COM_WCHAR* text, uint32_t length);
TAVOCOM_API uint32_t COM_SysStringByteLen(COM_BSTR text);
TAVOCOM_API uint32_t COM_SysStringLen(COM_BSTR text);
TAVOCOM_API int32_t COM_TaskMemAlloc(size_t size, void** block);
TAVOCOM_API int32_t COM_TaskMemFree(void* block);
TAVOCOM_API COM_HRESULT COM_Uninitialize();

} // extern "C"

/// Signature of "GetClassObject", which every component library exports.
typedef COM_HRESULT (*COM_PFN_GetClassObject)(const _COM_GUID* clsid, const _COM_GUID* iid, void** out);
/// Signature of "CanUnloadNow", which every component library exports.
typedef COM_HRESULT (*COM_PFN_CanUnloadNow)();

#endif
