#include "support/test_support.h"

#include "platform/utf.h"
#include "support/dynamic_library.h"

namespace tavo::test {

WString W(const std::string& utf8) { return utf::Utf8ToUtf16(utf8.data(), utf8.size()); }

std::string Narrow(const COM_WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return utf::Utf16ToUtf8(text, n);
}

std::string BinaryDirectory() { return TAVOCOM_BINARY_DIR; }

} // namespace tavo::test
