// COM_DecodeHRESULT: the system's text below the decoder facilities, a
// registered decoder's from them on, the built-in text where neither has one.
#include "decoding/decoding.h"

#include "decoding/compose.h"
#include "decoding/fallback.h"
#include "platform/platform.h"

namespace tavo::decoding {
namespace {

// A copy of `text` for the caller: `success` or, without memory,
// E_OUTOFMEMORY and a null string.
COM_HRESULT HandOut(const COM_WCHAR* text, size_t length, COM_HRESULT success, COM_BSTR* out) noexcept {
    *out = plat::SysAllocStringLen(text, uint32_t(length));
    return *out ? success : E_OUTOFMEMORY;
}

COM_HRESULT HandOutComposed(COM_HRESULT code, COM_BSTR* text) {
    const WString composed = ComposeStatusText(code); // std::bad_alloc leaves to the caller
    return HandOut(composed.data(), composed.size(), S_FALSE, text);
}

COM_HRESULT DecodeSystemFacility(COM_HRESULT code, COM_BSTR* text) {
    plat::LocalWideText system;
    uint32_t n = plat::FormatMessageW(plat::kSystemMessageFlags, uint32_t(code), 0, system.Put());
    if (n != 0 && system) return HandOut(system.Get(), n, S_OK, text);
    return HandOutComposed(code, text);
}

// "hresult:" and the facility in upper-case hexadecimal, no leading zeros.
struct DisplayName {
    COM_WCHAR text[16];
    explicit DisplayName(uint32_t facility) noexcept {
        size_t n = 0;
        for (const COM_WCHAR* p = COM_MONIKER_HRESULT; *p; ++p) text[n++] = *p;
        text[n++] = COM_WCHAR(':');
        int shift = 12;
        while (shift > 0 && (facility >> shift) == 0) shift -= 4;
        for (; shift >= 0; shift -= 4) text[n++] = COM_WCHAR("0123456789ABCDEF"[(facility >> shift) & 0xF]);
        text[n] = 0;
    }
};

COM_HRESULT DecodeByDecoder(COM_HRESULT code, uint32_t facility, COM_BSTR* text) {
    const DisplayName name(facility);
    uint32_t eaten = 0;
    utlAutoIf<COM_IMoniker> moniker;
    COM_HRESULT hr = MkParseName(name.text, &eaten, moniker.Put());
    if (COM_FAILED(hr)) return hr; // no text: only a failed bind falls back
    utlAutoIf<COM_IHResultDecoder> decoder;
    // Both holders raise XBadPtrException when a success delivered null.
    hr = moniker->Bind(name.text + eaten, COM_IID_IHResultDecoder, decoder.PutVoid());
    if (FallsBackToBuiltInTexts(hr)) return HandOutComposed(code, text);
    if (COM_FAILED(hr)) return hr;
    return decoder->Decode(code, nullptr, text);
}

} // namespace

COM_HRESULT DecodeHRESULT(COM_HRESULT code, void* /*reserved*/, COM_BSTR* text) {
    if (!text) return E_POINTER;
    if (!HasComponentDecoder(code)) return DecodeSystemFacility(code, text);
    return DecodeByDecoder(code, COM_StatusFacility(code), text);
}

} // namespace tavo::decoding
