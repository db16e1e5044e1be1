// Which source a status code's text comes from, and which answers of the
// status moniker leave it to the built-in texts. Every rule of that choice
// lives here.
#ifndef TAVOCOM_DECODING_FALLBACK_H
#define TAVOCOM_DECODING_FALLBACK_H

#include <tavocom/tavocom.h>

namespace tavo::decoding {

/// Facilities from COM_FIRST_DECODER_FACILITY on go to the decoder that a
/// component registered; those below to the system's message table.
inline constexpr bool HasComponentDecoder(COM_HRESULT code) noexcept {
    return COM_StatusFacility(code) >= COM_FIRST_DECODER_FACILITY;
}

/// What Bind of the status moniker reports for a failed step: the refused
/// extension text as it is, every other failure as "no class available",
/// which then falls back to the built-in texts.
inline COM_HRESULT BindResult(COM_HRESULT status) noexcept {
    return status == COM_E_MONIKER_EXTENSION ? status : COM_ClassLookupResult(status);
}

/// The answers of Bind after which the code gets the built-in texts (and
/// S_FALSE). Any other failure of Bind, and every failure to parse the
/// display name, is returned without a text: no registered moniker class
/// is the caller's to know about.
inline bool FallsBackToBuiltInTexts(COM_HRESULT bindStatus) noexcept {
    return bindStatus == E_NOINTERFACE || bindStatus == CLASS_E_CLASSNOTAVAILABLE || bindStatus == S_FALSE;
}

} // namespace tavo::decoding

#endif
