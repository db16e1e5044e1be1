// The class identifier of the sample status decoder, as a component
// publishes it to its clients. It decodes the codes of facility 0x6F.
#ifndef TAVOCOM_EXAMPLES_DECODER_H
#define TAVOCOM_EXAMPLES_DECODER_H

#include <tavocom/tavocom.h>

inline constexpr _COM_GUID CLSID_TavoDecoder = {0x5E0B7C1D, 0x2A46, 0x4F83, {0xB1, 0x7A, 0x6C, 0x0F, 0x93, 0xD2, 0x48, 0x6F}};
inline constexpr COM_WCHAR kTavoDecoderProgID[] = COM_TEXT("TelvaCom.TavoDecoder");
/// The facility it registers for, as the value name under Moniker\hresult.
inline constexpr COM_WCHAR kTavoDecoderFacility[] = COM_TEXT("6F");

#endif
