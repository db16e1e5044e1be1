#include "core/ansi.h"

#include "platform/platform.h"

namespace tavo::core {

bool ToAnsi(const COM_WCHAR* text, std::string* out) {
    int32_t n = plat::WideCharToMultiByte(text, -1, nullptr, 0);
    if (n <= 0) return false;
    out->assign(size_t(n), '\0');
    if (plat::WideCharToMultiByte(text, -1, out->data(), n) != n) return false;
    out->resize(size_t(n) - 1);
    return true;
}

bool ToAnsi(const COM_WCHAR* text, ShortText* out) {
    // One conversion straight into the room left in the short buffer
    // serves a short text.
    if (out->m_heap.empty()) {
        const size_t room = ShortText::kSmall - out->m_size;
        int32_t n = plat::WideCharToMultiByte(text, -1, out->m_small + out->m_size, int32_t(room));
        if (n > 0) {
            out->m_size += size_t(n) - 1;
            return true;
        }
        out->m_small[out->m_size] = '\0'; // a failed conversion may have written into the room
    }
    std::string whole;
    if (!ToAnsi(text, &whole)) return false;
    out->Append(whole.data(), whole.size());
    return true;
}

void ShortText::Append(const char* text, size_t n) {
    if (m_heap.empty() && m_size + n < kSmall) {
        std::memcpy(m_small + m_size, text, n);
        m_size += n;
        m_small[m_size] = '\0';
        return;
    }
    if (m_heap.empty()) {
        m_heap.reserve(m_size + n);
        m_heap.assign(m_small, m_size);
    }
    m_heap.append(text, n);
    m_size += n;
}

void ShortText::Truncate(size_t n) noexcept {
    if (n >= m_size) return;
    m_size = n;
    if (!m_heap.empty()) {
        if (n >= kSmall) {
            m_heap.resize(n);
            return;
        }
        std::memcpy(m_small, m_heap.data(), n);
        m_heap.clear();
    }
    m_small[n] = '\0';
}

COM_BSTR FromAnsi(const char* text) noexcept {
    // A short text is converted on the stack and copied once into the new
    // string.
    COM_WCHAR small[256];
    int32_t length = plat::MultiByteToWideChar(text, -1, small, 256);
    if (length > 0) return plat::SysAllocStringLen(small, uint32_t(length - 1));
    int32_t n = plat::MultiByteToWideChar(text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    // Converted straight into the new string: the recorded length counts
    // the characters, not the terminator, and a short name needs no
    // buffer of its own.
    COM_BSTR wide = plat::SysAllocStringLen(nullptr, uint32_t(n - 1));
    if (!wide) return nullptr;
    if (plat::MultiByteToWideChar(text, -1, wide, n) != n) {
        plat::SysFreeString(wide);
        return nullptr;
    }
    return wide;
}

} // namespace tavo::core
