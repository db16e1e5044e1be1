// Status decoding: moniker display names and the texts of status codes.
#ifndef TAVOCOM_DECODING_DECODING_H
#define TAVOCOM_DECODING_DECODING_H

#include <tavocom/tavocom.h>

namespace tavo::decoding {

/// The work behind COM_MkParseName.
COM_HRESULT MkParseName(const COM_WCHAR* displayName, uint32_t* eaten, COM_IMoniker** moniker);
/// The work behind COM_DecodeHRESULT.
COM_HRESULT DecodeHRESULT(COM_HRESULT code, void* reserved, COM_BSTR* text);

} // namespace tavo::decoding

#endif
