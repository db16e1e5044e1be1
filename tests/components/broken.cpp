// A component library with exactly one fault, chosen by the compile
// definition FAULT_<NAME>; without one it follows every rule. `tavocom
// check` must report each fault under its own rule (tests/tool_check.cmake).
// Its class answers two interfaces of its own, the second through a part
// object, so that the part can answer otherwise than the whole, and it is
// its own status decoder for facility 0x1B0.
#include <tavocom/component.h>
#include <tavocom/tavocom.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr _COM_GUID CLSID_Broken = {0x2D6F1A90, 0x7B3C, 0x4E21, {0x9A, 0x55, 0x0E, 0x48, 0xC1, 0x37, 0x6B, 0x02}};
constexpr _COM_GUID IID_IFirst = {0x2D6F1A91, 0x7B3C, 0x4E21, {0x9A, 0x55, 0x0E, 0x48, 0xC1, 0x37, 0x6B, 0x02}};
constexpr _COM_GUID IID_ISecond = {0x2D6F1A92, 0x7B3C, 0x4E21, {0x9A, 0x55, 0x0E, 0x48, 0xC1, 0x37, 0x6B, 0x02}};
constexpr uint32_t kFacility = 0x1B0;

struct IFirst : COM_IUnknown {
    virtual COM_HRESULT One() = 0;

protected:
    ~IFirst() = default;
};
struct ISecond : COM_IUnknown {
    virtual COM_HRESULT Two() = 0;

protected:
    ~ISecond() = default;
};

COM_ComponentLocks g_locks;

class Whole;

// ISecond of a Whole: it shares the whole's count.
class Part final : public ISecond {
public:
    explicit Part(Whole* whole) : m_whole(whole) {}
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    COM_HRESULT Two() override { return S_OK; }

private:
    Whole* m_whole;
};

class Whole final : public IFirst, public COM_IHResultDecoder {
public:
    Whole() { g_locks.Lock(); }
    ~Whole() { g_locks.Unlock(); }
    Whole(const Whole&) = delete;
    Whole& operator=(const Whole&) = delete;

    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == COM_IID_IUnknown || iid == IID_IFirst)
            *out = static_cast<IFirst*>(this);
        else if (iid == COM_IID_IHResultDecoder)
            *out = static_cast<COM_IHResultDecoder*>(this);
        else if (iid == IID_ISecond)
            *out = static_cast<ISecond*>(&m_part);
        else
            *out = nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override {
#ifdef FAULT_OVER_RELEASE
        m_refs -= m_refs > 1 ? 2 : 1;
#else
        --m_refs;
#endif
        const uint32_t left = m_refs;
        if (left == 0) delete this;
        return left;
    }
    COM_HRESULT One() override { return S_OK; }
    COM_HRESULT Decode(COM_HRESULT code, void*, COM_BSTR* text) override {
        if (!text) return E_POINTER;
        if (COM_StatusFacility(code) != kFacility) return E_INVALIDARG;
#ifdef FAULT_DECODER_NO_TEXT
        *text = nullptr;
#else
        const std::basic_string<COM_WCHAR> message = COM_TEXT("broken component error");
        *text = COM_SysAllocStringLen(message.data(), uint32_t(message.size()));
#endif
        return S_OK;
    }

private:
    uint32_t m_refs = 0;
    Part m_part{this};
};

COM_HRESULT Part::QueryInterface(const _COM_GUID& iid, void** out) {
#ifdef FAULT_NOT_SYMMETRIC
    if (iid == IID_IFirst) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
#endif
#ifdef FAULT_IDENTITY
    if (iid == COM_IID_IUnknown) {
        AddRef();
        *out = static_cast<ISecond*>(this);
        return S_OK;
    }
#endif
    return m_whole->QueryInterface(iid, out);
}
uint32_t Part::AddRef() { return m_whole->AddRef(); }
uint32_t Part::Release() { return m_whole->Release(); }

class Factory final : public COM_IClassFactory {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid != COM_IID_IUnknown && iid != COM_IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<COM_IClassFactory*>(this);
        return S_OK;
    }
    uint32_t AddRef() override {
        g_locks.Lock();
        return 1;
    }
    uint32_t Release() override {
        g_locks.Unlock();
        return 1;
    }
    COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) override {
#ifndef FAULT_NULL_OUT_CRASH
        if (!out) return E_POINTER;
#endif
        *out = nullptr;
        Whole* whole = new (std::nothrow) Whole();
        if (!whole) return E_OUTOFMEMORY;
        const COM_HRESULT hr = whole->QueryInterface(iid, out);
        if (hr != S_OK) delete whole;
#ifdef FAULT_HANG
        while (hr == E_NOINTERFACE) std::this_thread::sleep_for(std::chrono::seconds(1));
#endif
        return hr;
    }
};

Factory g_factory;

const COM_ClassRegistration kClasses[] = {
    {&CLSID_Broken, COM_TEXT("TavoTest.Broken"), COM_TEXT(COM_COMPONENT_FILE_NAME), nullptr, nullptr,
     COM_MONIKER_HRESULT, COM_TEXT("1B0"), nullptr, COM_REGISTER_KEEP_FOREIGN_MONIKER_ITEMS},
    {},
};

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    if (*clsid != CLSID_Broken) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(*iid, out);
}

#ifndef FAULT_NO_CAN_UNLOAD
COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() {
#ifdef FAULT_UNLOAD_ALWAYS
    return S_OK;
#else
    return g_locks.CanUnloadNow();
#endif
}
#endif

COM_COMPONENT_EXPORT COM_HRESULT DllRegisterServer() {
#ifdef FAULT_REGISTER_CRASH
    volatile int* nowhere = nullptr;
    *nowhere = 1;
#endif
    return COM_RegisterComponent(kClasses, 1);
}

COM_COMPONENT_EXPORT COM_HRESULT DllUnregisterServer() {
#ifdef FAULT_COUNT_KEPT
    return S_OK;
#else
    const COM_HRESULT hr = COM_RegisterComponent(kClasses, 0);
#ifdef FAULT_LEAVES_KEY
    utlAutoIf<COM_IRegistry> registry;
    if (COM_SUCCEEDED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid())) &&
        COM_SUCCEEDED(registry->Open(COM_REGROOT_CLASSES, COM_TEXT(""))) &&
        COM_SUCCEEDED(registry->CreateKey(COM_TEXT("TavoTest.Leftover"), 1)))
        registry->SetStringValue(COM_TEXT(""), COM_TEXT("left behind"));
#endif
    return hr;
#endif
}
