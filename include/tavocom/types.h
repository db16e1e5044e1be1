// Basic types of the TAVOCOM64 programming interface: the status code, the
// 16-bit character and string types, and the 16-byte identifier record.
#ifndef TAVOCOM_TYPES_H
#define TAVOCOM_TYPES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <type_traits>

// The one place where the public headers look at the platform: the 16-bit
// character type is the platform's wide character on Windows and char16_t
// elsewhere, and the export attribute differs between the two linkers.
#if defined(_WIN32)
typedef wchar_t COM_WCHAR;
typedef long COM_HRESULT; // 32 bits on Windows, identical to the platform's HRESULT
#define COM_TEXT_(s) L##s
#if defined(TAVOCOM_BUILDING)
#define TAVOCOM_API
#else
#define TAVOCOM_API __declspec(dllimport)
#endif
#define COM_COMPONENT_EXPORT extern "C" __declspec(dllexport)
#else
typedef char16_t COM_WCHAR;
typedef int32_t COM_HRESULT; // long is 64 bits here; the status is always 32
#define COM_TEXT_(s) u##s
#define TAVOCOM_API __attribute__((visibility("default")))
#define COM_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

/// Marks an entry point that a component library exports by name:
/// COM_COMPONENT_EXPORT COM_HRESULT CanUnloadNow() { ... }

/// A 16-bit character literal: COM_TEXT("abc").
#define COM_TEXT(s) COM_TEXT_(s)

static_assert(sizeof(COM_WCHAR) == 2, "16-bit characters expected");
static_assert(sizeof(COM_HRESULT) == 4, "32-bit status expected");

/// Length-prefixed wide string: points at the first character; the byte
/// length (without the terminator) is the 32-bit value just before it.
/// A null string reads as empty.
typedef COM_WCHAR* COM_BSTR;

/// 16-byte identifier of a class, interface or category.
struct _COM_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(_COM_GUID) == 16, "identifier record is 16 bytes");

/// Identifier equality, compared as two 64-bit halves.
inline bool COM_IsEqualGUID(const _COM_GUID& a, const _COM_GUID& b) noexcept {
    uint64_t a0, a1, b0, b1;
    memcpy(&a0, &a, 8);
    memcpy(&a1, reinterpret_cast<const char*>(&a) + 8, 8);
    memcpy(&b0, &b, 8);
    memcpy(&b1, reinterpret_cast<const char*>(&b) + 8, 8);
    return a0 == b0 && a1 == b1;
}
inline bool operator==(const _COM_GUID& a, const _COM_GUID& b) noexcept { return COM_IsEqualGUID(a, b); }
inline bool operator!=(const _COM_GUID& a, const _COM_GUID& b) noexcept { return !COM_IsEqualGUID(a, b); }

#define COM_STATUS_(v) ((COM_HRESULT)(v))

/// The fields of a status code: bit 31 the severity (1: failure), bits 16
/// to 28 the facility (bits 29 and 30 are not part of it), bits 0 to 15 the
/// code proper.
constexpr uint32_t COM_StatusSeverity(COM_HRESULT status) noexcept { return uint32_t(status) >> 31; }
constexpr uint32_t COM_StatusFacility(COM_HRESULT status) noexcept { return (uint32_t(status) >> 16) & 0x1FFFu; }
constexpr uint32_t COM_StatusCode(COM_HRESULT status) noexcept { return uint32_t(status) & 0xFFFFu; }

/// Facilities from this one on are the components': COM_DecodeHRESULT asks
/// the decoder class registered for the facility under Moniker\hresult.
/// Below it, the system's message table has the texts.
inline constexpr uint32_t COM_FIRST_DECODER_FACILITY = 100;

/// Tests of a status code. A truth value is not a status: passing one (a
/// comparison, a "found" flag) does not compile.
template <class Status>
constexpr bool COM_StatusFailed_(Status status) noexcept {
    static_assert(!std::is_same<Status, bool>::value, "COM_SUCCEEDED/COM_FAILED take a status code, not a bool");
    return COM_StatusSeverity((COM_HRESULT)(status)) != 0;
}
#define COM_SUCCEEDED(hr) (!COM_StatusFailed_(hr))
#define COM_FAILED(hr) (COM_StatusFailed_(hr))

// The platform's published names and values. A client that included the
// platform headers first keeps the platform's own definitions.
#ifndef S_OK
#define S_OK COM_STATUS_(0)
#endif
#ifndef S_FALSE
#define S_FALSE COM_STATUS_(1)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL COM_STATUS_(0x80004001L)
#endif
#ifndef E_NOINTERFACE
#define E_NOINTERFACE COM_STATUS_(0x80004002L)
#endif
#ifndef E_POINTER
#define E_POINTER COM_STATUS_(0x80004003L)
#endif
#ifndef E_FAIL
#define E_FAIL COM_STATUS_(0x80004005L)
#endif
#ifndef E_UNEXPECTED
#define E_UNEXPECTED COM_STATUS_(0x8000FFFFL)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY COM_STATUS_(0x8007000EL)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG COM_STATUS_(0x80070057L)
#endif
#ifndef CLASS_E_CLASSNOTAVAILABLE
#define CLASS_E_CLASSNOTAVAILABLE COM_STATUS_(0x80040111L)
#endif
#ifndef CO_E_CLASSSTRING
#define CO_E_CLASSSTRING COM_STATUS_(0x800401F3L)
#endif
#ifndef CO_E_DLLNOTFOUND
#define CO_E_DLLNOTFOUND COM_STATUS_(0x800401F8L)
#endif
#ifndef CO_E_ERRORINDLL
#define CO_E_ERRORINDLL COM_STATUS_(0x800401F9L)
#endif

/// Status of a platform registry error number e: 0x80070000 | (e & 0xFFFF).
#define COM_STATUS_FROM_WIN32(e) COM_STATUS_(0x80070000UL | ((uint32_t)(e) & 0xFFFFu))

/// The product's own status: the moniker extension is not supported.
#define COM_E_MONIKER_EXTENSION COM_STATUS_(0x80680004L)

/// Root selectors of the registry service.
enum : uint32_t {
    COM_REGROOT_CLASSES = 1,
    COM_REGROOT_USER = 2,
    COM_REGROOT_MACHINE = 3,
    COM_REGROOT_USER_VENDOR = 4,
    COM_REGROOT_APPDATA = 5,
};

/// Strategy type codes of the memory service.
enum : uint32_t {
    COM_MEMORY_STRATEGY_STANDARD = 1,
    COM_MEMORY_STRATEGY_LINEAR = 2,
    COM_MEMORY_STRATEGY_VIRTUAL = 3,
    COM_MEMORY_STRATEGY_VIRTUAL_FREELIST = 4,
};

/// Record handed out by the category enumerator: 528 bytes.
struct COM_CATEGORYINFO {
    _COM_GUID catid;
    COM_WCHAR szDescription[256];
};
static_assert(sizeof(COM_CATEGORYINFO) == 528, "category record is 528 bytes");

#endif
