// Owning holders for interface pointers and strings.
#ifndef TAVOCOM_AUTOIF_H
#define TAVOCOM_AUTOIF_H

#include "exports.h"

/// Base of every interface holder. Calling through a holder that holds null
/// raises XBadPtrException instead of calling through a null pointer.
class utlAutoIfBase {
public:
    class XBadPtrException {
    public:
        explicit XBadPtrException(const utlAutoIfBase* holder) noexcept : m_holder(holder) {}
        /// Address of the holder that was used empty.
        const utlAutoIfBase* Holder() const noexcept { return m_holder; }

    private:
        const utlAutoIfBase* m_holder;
    };

protected:
    utlAutoIfBase() noexcept = default;
    ~utlAutoIfBase() = default;
    [[noreturn]] void ThrowBadPtr() const { throw XBadPtrException(this); }
};

/// Holds one reference on an interface pointer and releases it when
/// replaced or destroyed, also while an exception passes.
template <class I>
class utlAutoIf : public utlAutoIfBase {
public:
    utlAutoIf() noexcept = default;
    /// Takes over a reference the caller already owns.
    explicit utlAutoIf(I* owned) noexcept : m_p(owned) {}
    utlAutoIf(const utlAutoIf& other) noexcept : m_p(other.m_p) {
        if (m_p) m_p->AddRef();
    }
    utlAutoIf(utlAutoIf&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    utlAutoIf& operator=(const utlAutoIf& other) noexcept {
        if (other.m_p) other.m_p->AddRef();
        Reset(other.m_p);
        return *this;
    }
    utlAutoIf& operator=(utlAutoIf&& other) noexcept {
        if (this != &other) {
            I* p = other.m_p;
            other.m_p = nullptr;
            Reset(p);
        }
        return *this;
    }
    ~utlAutoIf() { Reset(nullptr); }

    /// Raises XBadPtrException when empty.
    I* operator->() const {
        if (!m_p) ThrowBadPtr();
        return m_p;
    }
    I& operator*() const {
        if (!m_p) ThrowBadPtr();
        return *m_p;
    }

    I* Get() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    /// Releases what is held and returns the place for an out argument.
    I** Put() noexcept {
        Reset(nullptr);
        return &m_p;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    /// Takes over a reference the caller owns, releasing the old one. The
    /// member is cleared before Release runs, so a re-entrant call sees null.
    void Reset(I* owned) noexcept {
        I* old = m_p;
        m_p = owned;
        if (old) old->Release();
    }
    /// Gives up ownership without releasing.
    I* Detach() noexcept {
        I* p = m_p;
        m_p = nullptr;
        return p;
    }
    /// Hands a new reference to an out argument.
    void CopyTo(I** out) const noexcept {
        if (m_p) m_p->AddRef();
        *out = m_p;
    }

private:
    I* m_p = nullptr;
};

/// Owns one length-prefixed string and frees it with COM_SysFreeString.
class utlAutoBstr {
public:
    utlAutoBstr() noexcept = default;
    explicit utlAutoBstr(COM_BSTR owned) noexcept : m_s(owned) {}
    utlAutoBstr(const utlAutoBstr&) = delete;
    utlAutoBstr& operator=(const utlAutoBstr&) = delete;
    utlAutoBstr(utlAutoBstr&& other) noexcept : m_s(other.m_s) { other.m_s = nullptr; }
    utlAutoBstr& operator=(utlAutoBstr&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~utlAutoBstr() { Reset(nullptr); }

    COM_BSTR Get() const noexcept { return m_s; }
    COM_BSTR* Put() noexcept {
        Reset(nullptr);
        return &m_s;
    }
    void Reset(COM_BSTR owned) noexcept {
        COM_BSTR old = m_s;
        m_s = owned;
        if (old) COM_SysFreeString(old);
    }
    COM_BSTR Detach() noexcept {
        COM_BSTR s = m_s;
        m_s = nullptr;
        return s;
    }
    uint32_t Length() const noexcept { return COM_SysStringLen(m_s); }

private:
    COM_BSTR m_s = nullptr;
};

#endif
