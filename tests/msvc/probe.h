// The interface that the MSVC-ABI component offers and its client calls:
// strings and identifiers in and out, across the two compilers' ABIs.
#ifndef TAVOCOM_TESTS_MSVC_PROBE_H
#define TAVOCOM_TESTS_MSVC_PROBE_H

#include <tavocom/interfaces.h>

inline constexpr _COM_GUID CLSID_MsvcProbe = {0x7A3C91E2, 0x54B0, 0x4D1F, {0x9E, 0x26, 0x31, 0xC8, 0x0B, 0x7D, 0x4A, 0x15}};
inline constexpr _COM_GUID IID_IMsvcProbe = {0x7A3C91E3, 0x54B0, 0x4D1F, {0x9E, 0x26, 0x31, 0xC8, 0x0B, 0x7D, 0x4A, 0x15}};

struct IMsvcProbe : COM_IUnknown {
    /// A new string: "echo: " and `text`.
    virtual COM_HRESULT Echo(const COM_WCHAR* text, COM_BSTR* out) = 0;
    /// The identifier with its first field incremented.
    virtual COM_HRESULT NextId(const _COM_GUID& id, _COM_GUID* out) = 0;

protected:
    ~IMsvcProbe() = default;
};

#endif
