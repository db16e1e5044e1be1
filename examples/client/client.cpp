// A client program of the product: it finds the sample greeter by its
// ProgID, activates it through the runtime, calls it, and decodes a status
// of the product's facility through whatever decoder is registered for it.
// Exit status 0 when the greeter answered.
//
// Run it where the runtime and the components are registered, for example
// from a build directory of the examples project with private hives:
//   ./tavocom register --runtime && ./tavocom register greeter.so && ./tavocom register tavo_decoder.so
//   ./client
// guide: client
#include <tavocom/tavocom.h>

#include <cstdio>
#include <string>

#include "greeter/greeter.h"

namespace {

// UTF-16 to UTF-8, enough for printing.
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

} // namespace

int main() {
    _COM_GUID clsid{};
    COM_HRESULT hr = COM_GetCLSIDFromProgID(COM_TEXT("TavoSample.Greeter"), &clsid);
    if (COM_FAILED(hr)) {
        std::printf("TavoSample.Greeter is not registered (0x%08X)\n", unsigned(hr));
        return 1;
    }
    // The holder releases the greeter however this block is left.
    utlAutoIf<IGreeter> greeter;
    hr = COM_CreateInstance(clsid, 0, IID_IGreeter, greeter.PutVoid());
    if (COM_FAILED(hr)) {
        utlAutoBstr text;
        COM_DecodeHRESULT(hr, nullptr, text.Put());
        std::printf("activation failed: %s\n", Narrow(text.Get()).c_str());
        return 1;
    }
    utlAutoBstr greeting;
    hr = greeter->Greet(COM_TEXT("client"), greeting.Put());
    if (COM_FAILED(hr)) return 1;
    std::printf("%s\n", Narrow(greeting.Get()).c_str());

    // A status of the product's facility 0x6F, decoded by the decoder
    // registered for it, or by the runtime's built-in texts.
    utlAutoBstr text;
    hr = COM_DecodeHRESULT(COM_HRESULT(0x806F0005), nullptr, text.Put());
    std::printf("0x806F0005: %s (%s)\n", Narrow(text.Get()).c_str(), hr == S_OK ? "decoded" : "built-in text");
    return 0;
}
// guide: end
