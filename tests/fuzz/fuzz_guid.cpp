// Identifier texts: whatever is accepted round-trips to the same 16 bytes,
// and the canonical text of those bytes is accepted again.
#include <cstring>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::fuzz::WString text;
    for (size_t i = 0; i + 1 < size; i += 2) text += COM_WCHAR(data[i] | data[i + 1] << 8);
    _COM_GUID id{};
    if (COM_StringToCLSID(text.c_str(), &id) != S_OK) return 0;
    utlAutoBstr canonical;
    FUZZ_CHECK(COM_CLSIDToString(id, canonical.Put()) == S_OK);
    FUZZ_CHECK(COM_SysStringLen(canonical.Get()) == 38);
    _COM_GUID again{};
    FUZZ_CHECK(COM_StringToCLSID(canonical.Get(), &again) == S_OK);
    FUZZ_CHECK(std::memcmp(&id, &again, sizeof id) == 0);
    return 0;
}
