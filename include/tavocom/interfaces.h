// The interfaces of TAVOCOM64, each an abstract class whose virtual
// operations occupy fixed slots in the order written here.
#ifndef TAVOCOM_INTERFACES_H
#define TAVOCOM_INTERFACES_H

#include "types.h"

// Interfaces have no virtual destructor (it would take a slot); objects are
// destroyed by their own Release, never through an interface pointer.
#define COM_INTERFACE_PROTECTED_DTOR(name) \
protected:                                \
    ~name() = default;                    \
                                          \
public:

struct COM_IUnknown {
    virtual COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IUnknown)
};

struct COM_IClassFactory : COM_IUnknown {
    virtual COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IClassFactory)
};

struct COM_IEnumBSTR : COM_IUnknown {
    virtual COM_HRESULT GetCount(uint32_t* count) = 0;
    virtual COM_HRESULT GetPosition(uint32_t* position) = 0;
    virtual COM_HRESULT SetPosition(uint32_t position) = 0;
    virtual COM_HRESULT Next(uint32_t wanted, COM_BSTR* items, uint32_t* fetched) = 0;
    virtual COM_HRESULT Skip(uint32_t steps) = 0;
    virtual COM_HRESULT SeekEnd() = 0;
    virtual COM_HRESULT Reset() = 0;
    virtual COM_HRESULT Clone(COM_IEnumBSTR** out) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IEnumBSTR)
};

struct COM_IRegistry : COM_IUnknown {
    virtual COM_HRESULT Open(uint32_t root, const COM_WCHAR* subkey) = 0;
    virtual COM_HRESULT Close() = 0;
    virtual COM_HRESULT OpenKey(const COM_WCHAR* name) = 0;
    virtual COM_HRESULT CreateKey(const COM_WCHAR* name, int32_t enter) = 0;
    virtual COM_HRESULT DeleteKey(const COM_WCHAR* name) = 0;
    virtual COM_HRESULT SetStringValue(const COM_WCHAR* name, const COM_WCHAR* text) = 0;
    virtual COM_HRESULT GetStringValue(const COM_WCHAR* name, COM_BSTR* text) = 0;
    virtual COM_HRESULT SetDWordValue(const COM_WCHAR* name, uint32_t value) = 0;
    virtual COM_HRESULT GetDWordValue(const COM_WCHAR* name, uint32_t* value) = 0;
    virtual COM_HRESULT DeleteValue(const COM_WCHAR* name) = 0;
    virtual COM_HRESULT EnumKeys(COM_IEnumBSTR** out) = 0;
    virtual COM_HRESULT EnumValues(COM_IEnumBSTR** out) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IRegistry)
};

/// Offered by the registry service object beside COM_IRegistry: a write
/// batch on the hive of a root selector. While it is open, every change
/// this process makes to that hive is kept or dropped as a whole, and no
/// other process sees any of it before Commit. Begin, Commit and Rollback
/// run on one thread. Releasing the object drops a batch not committed.
struct COM_IRegistryBatch : COM_IUnknown {
    /// Fails while another batch of this process or this object is open on
    /// the hive (0x800700AA), or where the hive may not be written.
    virtual COM_HRESULT Begin(uint32_t root) = 0;
    /// Keeps the batch's changes. A batch in which a change failed is
    /// dropped whole, and Commit fails.
    virtual COM_HRESULT Commit() = 0;
    /// Drops the batch: S_OK, or S_FALSE where each change already stood on
    /// its own (the Windows registry has no such transactions).
    virtual COM_HRESULT Rollback() = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IRegistryBatch)
};

struct COM_IEnumCATEGORYINFO : COM_IUnknown {
    virtual COM_HRESULT GetCount(uint32_t* count) = 0;
    virtual COM_HRESULT GetPosition(uint32_t* position) = 0;
    virtual COM_HRESULT SetPosition(uint32_t position) = 0;
    virtual COM_HRESULT Next(uint32_t wanted, COM_CATEGORYINFO** items, uint32_t* fetched) = 0;
    virtual COM_HRESULT Skip(uint32_t steps) = 0;
    virtual COM_HRESULT SeekEnd() = 0;
    virtual COM_HRESULT Reset() = 0;
    virtual COM_HRESULT Clone(COM_IEnumCATEGORYINFO** out) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IEnumCATEGORYINFO)
};

struct COM_IEnumCLSID : COM_IUnknown {
    virtual COM_HRESULT GetCount(uint32_t* count) = 0;
    virtual COM_HRESULT GetPosition(uint32_t* position) = 0;
    virtual COM_HRESULT SetPosition(uint32_t position) = 0;
    virtual COM_HRESULT Next(uint32_t wanted, _COM_GUID** items, uint32_t* fetched) = 0;
    virtual COM_HRESULT Skip(uint32_t steps) = 0;
    virtual COM_HRESULT SeekEnd() = 0;
    virtual COM_HRESULT Reset() = 0;
    virtual COM_HRESULT Clone(COM_IEnumCLSID** out) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IEnumCLSID)
};

struct COM_ICatRegister : COM_IUnknown {
    virtual COM_HRESULT RegisterCategory(const _COM_GUID& category, const COM_WCHAR* description) = 0;
    virtual COM_HRESULT RegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) = 0;
    virtual COM_HRESULT UnRegisterCategory(const _COM_GUID& category) = 0;
    virtual COM_HRESULT UnRegisterClassImplCategory(const _COM_GUID& category, const _COM_GUID& clsid) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_ICatRegister)
};

struct COM_ICatInformation : COM_IUnknown {
    virtual COM_HRESULT EnumCategories(COM_IEnumCATEGORYINFO** out) = 0;
    virtual COM_HRESULT EnumClassesOfCategory(const _COM_GUID& category, COM_IEnumCLSID** out) = 0;
    virtual COM_HRESULT GetCategoryDesc(const _COM_GUID& category, COM_BSTR* description) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_ICatInformation)
};

struct COM_IErrorInfo : COM_IUnknown {
    virtual COM_HRESULT SetDescription(const COM_WCHAR* text) = 0;
    virtual COM_HRESULT SetSource(const COM_WCHAR* text) = 0;
    virtual COM_HRESULT SetNumberPair(uint32_t first, uint32_t second) = 0;
    virtual COM_HRESULT SetNumber(uint32_t number) = 0;
    virtual COM_HRESULT GetDescription(COM_BSTR* text) = 0;
    virtual COM_HRESULT GetSource(COM_BSTR* text) = 0;
    virtual COM_HRESULT GetNumberPair(uint32_t* first, uint32_t* second) = 0;
    virtual COM_HRESULT GetNumber(uint32_t* number) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IErrorInfo)
};

struct COM_IMoniker : COM_IUnknown {
    virtual COM_HRESULT Bind(const COM_WCHAR* rest, const _COM_GUID& iid, void** object) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IMoniker)
};

struct COM_IMonikerExtension : COM_IUnknown {
    virtual COM_HRESULT SetExtension(const COM_WCHAR* text) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IMonikerExtension)
};

struct COM_IHResultDecoder : COM_IUnknown {
    virtual COM_HRESULT Decode(COM_HRESULT code, void* context, COM_BSTR* text) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IHResultDecoder)
};

struct COM_IMemory : COM_IUnknown {
    virtual COM_HRESULT SetStrategy(uint32_t type, uint64_t first, uint64_t second) = 0;
    virtual void* Alloc(uint64_t size) = 0;
    virtual void Free(void* block) = 0;
    virtual COM_HRESULT Reset() = 0;
    virtual COM_HRESULT GetStats(uint32_t* allocations, uint32_t* frees, uint32_t* total, uint32_t* available) = 0;
    virtual COM_HRESULT GetFreeListStats(uint32_t* freeBytes, uint32_t* overheadBytes, uint32_t* freeBlocks) = 0;
    virtual COM_HRESULT GetStrategyInfo(uint32_t* info) = 0;
    virtual COM_HRESULT GetStrategyTypeInfo(uint32_t type, uint32_t* info) = 0;
    COM_INTERFACE_PROTECTED_DTOR(COM_IMemory)
};

#undef COM_INTERFACE_PROTECTED_DTOR

#endif
