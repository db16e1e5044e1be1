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

COM_BSTR FromAnsi(const char* text) noexcept {
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
