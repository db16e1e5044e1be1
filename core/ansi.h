// Text in the ANSI code page, the form in which the registry and the
// platform's narrow calls take it.
#ifndef TAVOCOM_CORE_ANSI_H
#define TAVOCOM_CORE_ANSI_H

#include <tavocom/tavocom.h>

#include <cstring>
#include <string>

namespace tavo::core {

/// Text kept in a buffer of its own while it is short and on the heap
/// beyond: the names and paths of registry calls, built without allocating.
class ShortText {
public:
    ShortText() noexcept { m_small[0] = '\0'; }
    ShortText(const ShortText&) = delete;
    ShortText& operator=(const ShortText&) = delete;

    /// std::bad_alloc when a long text runs out of memory.
    void Append(const char* text, size_t n);
    void Append(const char* text) { Append(text, std::strlen(text)); }
    const char* c_str() const noexcept { return m_heap.empty() ? m_small : m_heap.c_str(); }
    size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    /// Cuts the text back to its first `n` characters.
    void Truncate(size_t n) noexcept;

private:
    friend bool ToAnsi(const COM_WCHAR* text, ShortText* out);
    static constexpr size_t kSmall = 256;
    char m_small[kSmall];
    size_t m_size = 0;
    std::string m_heap; // in use once the text outgrows m_small
};

/// Wide text to the ANSI code page, terminator excluded from the result.
/// False when the conversion fails; std::bad_alloc when memory runs out.
bool ToAnsi(const COM_WCHAR* text, std::string* out);
/// The same, appended to `out`: a short text needs no allocation.
bool ToAnsi(const COM_WCHAR* text, ShortText* out);

/// ANSI text up to its first NUL to a new length-prefixed wide string;
/// null when the conversion or the allocation fails.
COM_BSTR FromAnsi(const char* text) noexcept;

} // namespace tavo::core

#endif
