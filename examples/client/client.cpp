// guide: client
// A client program of the product: it finds the sample Counter by its
// ProgID, activates it through the runtime, calls it until it refuses, and
// has the runtime decode that refusal, a status of the component's own
// facility, through the decoder the component registered for it. Exit
// status 0 when the counter answered as expected.
//
// Run it where the runtime and the component are registered, for example
// from the examples project's build directory with private hives:
//   ./tavocom register --runtime && ./tavocom register counter.so && ./client
#include <tavocom/tavocom.h>

#include <cstdio>
#include <string>

#include "counter/counter.h"

namespace {

// 16-bit text to UTF-8, for printing.
std::string Narrow(const COM_WCHAR* text) {
    std::string out;
    for (; text && *text; ++text) {
        const uint32_t c = *text;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The runtime's text for a status: the system's, a registered decoder's,
// or its own.
std::string Describe(COM_HRESULT status) {
    utlAutoBstr text;
    COM_DecodeHRESULT(status, nullptr, text.Put());
    return Narrow(text.Get());
}

} // namespace

int main() {
    _COM_GUID clsid{};
    COM_HRESULT hr = COM_GetCLSIDFromProgID(COM_TEXT("TavoSample.Counter"), &clsid);
    if (COM_FAILED(hr)) {
        std::printf("TavoSample.Counter is not registered: %s\n", Describe(hr).c_str());
        return 1;
    }
    // The holder releases the counter however main is left.
    utlAutoIf<ICounter> counter;
    hr = COM_CreateInstance(clsid, 0, IID_ICounter, counter.PutVoid());
    if (COM_FAILED(hr)) {
        std::printf("activation failed: %s\n", Describe(hr).c_str());
        return 1;
    }
    uint32_t total = 0;
    if (COM_FAILED(counter->Add(999999)) || COM_FAILED(counter->Add(1)) || COM_FAILED(counter->GetTotal(&total)))
        return 1;
    std::printf("counted to %u\n", total);
    hr = counter->Add(1);
    std::printf("one more: 0x%08X, %s\n", unsigned(hr), Describe(hr).c_str());
    return hr == COUNTER_E_OVERFLOW ? 0 : 1;
}
// guide: end
