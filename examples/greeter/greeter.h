// The interface and class identifier of the sample Greeter component, as a
// component publishes them to its clients.
#ifndef TAVOCOM_EXAMPLES_GREETER_H
#define TAVOCOM_EXAMPLES_GREETER_H

#include <tavocom/tavocom.h>

// guide: greeter-interface
struct IGreeter : COM_IUnknown {
    /// Hands out a new string "Hello, <name>!"; the caller frees it.
    virtual COM_HRESULT Greet(const COM_WCHAR* name, COM_BSTR* text) = 0;
    /// Number of greetings this object has made.
    virtual COM_HRESULT GetCount(uint32_t* count) = 0;

protected:
    ~IGreeter() = default;
};

inline constexpr _COM_GUID IID_IGreeter = {0x7B7B3662, 0x35FD, 0x46D5, {0x90, 0x65, 0x33, 0x66, 0x35, 0x4D, 0x3F, 0x4B}};
inline constexpr _COM_GUID CLSID_Greeter = {0xD41060A0, 0xF9F7, 0x4CB0, {0x95, 0x3E, 0x18, 0x58, 0x45, 0xE6, 0xF0, 0xC5}};

/// The category of components that greet.
inline constexpr _COM_GUID CATID_Greeters = {0x2C5E8A11, 0x7F43, 0x4B9D, {0xA6, 0x0E, 0x51, 0x9C, 0x3D, 0x72, 0xE4, 0x08}};
// guide: end

#endif
