// One owner template for every platform handle: built from the handle type,
// its close function and its invalid value (null unless given), move-only.
#ifndef TAVOCOM_PLATFORM_UNIQUE_HANDLE_H
#define TAVOCOM_PLATFORM_UNIQUE_HANDLE_H

namespace tavo::plat {

template <class Handle, auto Close, auto Invalid = nullptr>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle owned) noexcept : m_h(owned) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Invalid; }
    /// Closes what is held and returns the place for an out argument.
    Handle* Put() noexcept {
        Reset();
        return &m_h;
    }
    /// The held handle's own place, for a call that replaces the handle
    /// in place (a reallocation) while this owner keeps owning it.
    Handle* InPlace() noexcept { return &m_h; }
    /// Takes over `owned`; the member is cleared before the old handle is
    /// closed.
    void Reset(Handle owned = Invalid) noexcept {
        Handle old = m_h;
        m_h = owned;
        if (old != Invalid) Close(old);
    }
    /// Gives up ownership without closing.
    Handle Release() noexcept {
        Handle h = m_h;
        m_h = Invalid;
        return h;
    }

private:
    Handle m_h = Invalid;
};

} // namespace tavo::plat

#endif
