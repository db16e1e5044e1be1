// Misbehaving monikers and decoders for the status decoding tests. The
// class identifier says what an object does: Data1 the kind, Data2:Data3
// the status its one operation returns, Data4[0] whether it also delivers
// its result (an object from Bind, a text from Decode).
#include <tavocom/tavocom.h>

#include <atomic>
#include <new>

namespace {

enum : uint32_t {
    kMoniker = 0x4D4F4E4B,    // COM_IMoniker
    kDecoder = 0x44454344,    // COM_IHResultDecoder
    kPlain = 0x504C4149,      // COM_IUnknown only
    kNullObject = 0x4E554C4C, // the factory reports success and delivers null
};

// Objects and factories alive.
std::atomic<uint32_t> g_live{0};

COM_HRESULT StatusOf(const _COM_GUID& clsid) { return COM_HRESULT((uint32_t(clsid.Data2) << 16) | clsid.Data3); }
bool Delivers(const _COM_GUID& clsid) { return clsid.Data4[0] != 0; }

template <class Base>
class Counted : public Base {
public:
    uint32_t AddRef() override {
        if (m_refs == 0) ++g_live;
        return ++m_refs;
    }
    uint32_t Release() override {
        uint32_t left = --m_refs;
        if (left == 0) {
            delete this;
            --g_live;
        }
        return left;
    }
    virtual ~Counted() = default;

protected:
    COM_HRESULT Answer(const _COM_GUID& iid, const _COM_GUID& own, void** out) {
        if (iid == COM_IID_IUnknown || iid == own) {
            AddRef();
            *out = static_cast<Base*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    uint32_t m_refs = 0;
};

template <class T, class... Args>
COM_HRESULT Create(const _COM_GUID& iid, void** out, Args... args) {
    auto* object = new (std::nothrow) T(args...);
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    COM_HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

class Decoder final : public Counted<COM_IHResultDecoder> {
public:
    Decoder(COM_HRESULT status, bool writes) : m_status(status), m_writes(writes) {}
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override { return Answer(iid, COM_IID_IHResultDecoder, out); }
    COM_HRESULT Decode(COM_HRESULT, void*, COM_BSTR* text) override {
        if (m_writes) *text = COM_SysAllocString(COM_TEXT("odd decoder text"));
        return m_status;
    }

private:
    COM_HRESULT m_status;
    bool m_writes;
};

class Moniker final : public Counted<COM_IMoniker> {
public:
    Moniker(COM_HRESULT status, bool delivers) : m_status(status), m_delivers(delivers) {}
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override { return Answer(iid, COM_IID_IMoniker, out); }
    COM_HRESULT Bind(const COM_WCHAR*, const _COM_GUID& iid, void** object) override {
        if (m_delivers) {
            COM_HRESULT hr = Create<Decoder>(iid, object, S_OK, true);
            if (COM_FAILED(hr)) return hr;
        } else {
            *object = nullptr;
        }
        return m_status;
    }

private:
    COM_HRESULT m_status;
    bool m_delivers;
};

class Plain final : public Counted<COM_IUnknown> {
public:
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override { return Answer(iid, COM_IID_IUnknown, out); }
};

class Factory final : public Counted<COM_IClassFactory> {
public:
    explicit Factory(const _COM_GUID& clsid) : m_clsid(clsid) {}
    COM_HRESULT QueryInterface(const _COM_GUID& iid, void** out) override { return Answer(iid, COM_IID_IClassFactory, out); }
    COM_HRESULT CreateInstance(const _COM_GUID& iid, void** out) override {
        switch (m_clsid.Data1) {
        case kMoniker: return Create<Moniker>(iid, out, StatusOf(m_clsid), Delivers(m_clsid));
        case kDecoder: return Create<Decoder>(iid, out, StatusOf(m_clsid), Delivers(m_clsid));
        case kPlain: return Create<Plain>(iid, out);
        default: *out = nullptr; return S_OK;
        }
    }

private:
    _COM_GUID m_clsid;
};

} // namespace

COM_COMPONENT_EXPORT COM_HRESULT GetClassObject(const _COM_GUID* clsid, const _COM_GUID* iid, void** out) {
    switch (clsid->Data1) {
    case kMoniker:
    case kDecoder:
    case kPlain:
    case kNullObject: return Create<Factory>(*iid, out, *clsid);
    default: return CLASS_E_CLASSNOTAVAILABLE;
    }
}

COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { return g_live == 0 ? S_OK : S_FALSE; }

/// Objects and factories of this library still alive.
COM_COMPONENT_EXPORT uint32_t LiveObjects() { return g_live; }
