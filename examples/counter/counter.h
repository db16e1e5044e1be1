// guide: counter-header
// The Counter component's interface, identifiers and status codes, as it
// publishes them to its clients.
#ifndef TAVOSAMPLE_COUNTER_H
#define TAVOSAMPLE_COUNTER_H

#include <tavocom/tavocom.h>

struct ICounter : COM_IUnknown {
    /// Adds `amount`; COUNTER_E_OVERFLOW, and the total unchanged, when it
    /// would pass 1,000,000.
    virtual COM_HRESULT Add(uint32_t amount) = 0;
    virtual COM_HRESULT GetTotal(uint32_t* total) = 0;

protected:
    ~ICounter() = default;
};

inline constexpr _COM_GUID IID_ICounter = {0x5B1E47C2, 0x0D9A, 0x4E3B, {0x8F, 0x61, 0x2A, 0x7C, 0x94, 0x03, 0xB5, 0x1D}};
inline constexpr _COM_GUID CLSID_Counter = {0x5B1E47C3, 0x0D9A, 0x4E3B, {0x8F, 0x61, 0x2A, 0x7C, 0x94, 0x03, 0xB5, 0x1D}};
/// The class that turns the component's status codes into text.
inline constexpr _COM_GUID CLSID_CounterErrors = {0x5B1E47C4, 0x0D9A, 0x4E3B, {0x8F, 0x61, 0x2A, 0x7C, 0x94, 0x03, 0xB5, 0x1D}};
/// The category of components that count.
inline constexpr _COM_GUID CATID_Counters = {0x5B1E47C5, 0x0D9A, 0x4E3B, {0x8F, 0x61, 0x2A, 0x7C, 0x94, 0x03, 0xB5, 0x1D}};

/// The component's own facility (from 100 on, the facilities whose texts
/// registered decoders give) and its codes.
inline constexpr uint32_t kCounterFacility = 0x1A5;
inline constexpr COM_HRESULT COUNTER_E_OVERFLOW = COM_HRESULT(0x81A50001);
inline constexpr COM_HRESULT COUNTER_E_NOT_READY = COM_HRESULT(0x81A50002);

#endif
// guide: end
