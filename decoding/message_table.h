// The fixed message table of the composed status texts: exact codes and
// their texts, sorted by code. Standard names are given where the platform
// publishes one; the other rows are the product's own codes.
#ifndef TAVOCOM_DECODING_MESSAGE_TABLE_H
#define TAVOCOM_DECODING_MESSAGE_TABLE_H

#include <tavocom/types.h>

#include <algorithm>
#include <iterator>

namespace tavo::decoding {

struct MessageRow {
    uint32_t code;
    const COM_WCHAR* text;
};

// The texts are kept exactly as the product has always shown them,
// misspellings included: callers compare them.
inline constexpr MessageRow kMessageTable[] = {
    {0x00000000U, COM_TEXT("OK status")}, // S_OK
    {0x00000001U, COM_TEXT("FALSE status")}, // S_FALSE
    {0x80004001U, COM_TEXT("Method not implemented")}, // E_NOTIMPL
    {0x80004002U, COM_TEXT("Can't find specified interface")}, // E_NOINTERFACE
    {0x80004003U, COM_TEXT("Invalid Pointer")}, // E_POINTER
    {0x80004005U, COM_TEXT("General failure")}, // E_FAIL
    {0x8000FFFFU, COM_TEXT("Unknown error")}, // E_UNEXPECTED
    {0x80020001U, COM_TEXT("Unknown interface")}, // DISP_E_UNKNOWNINTERFACE
    {0x80020003U, COM_TEXT("Can't find property")}, // DISP_E_MEMBERNOTFOUND
    {0x80020004U, COM_TEXT("Can't find parameter")}, // DISP_E_PARAMNOTFOUND
    {0x80020005U, COM_TEXT("Type mismatch")}, // DISP_E_TYPEMISMATCH
    {0x80020006U, COM_TEXT("Can't find method")}, // DISP_E_UNKNOWNNAME
    {0x80020007U, COM_TEXT("No named arguments")}, // DISP_E_NONAMEDARGS
    {0x80020008U, COM_TEXT("Bad variable type")}, // DISP_E_BADVARTYPE
    {0x80020009U, COM_TEXT("Exception occurred")}, // DISP_E_EXCEPTION
    {0x8002000AU, COM_TEXT("Out of present range")}, // DISP_E_OVERFLOW
    {0x8002000BU, COM_TEXT("Bad Index")}, // DISP_E_BADINDEX
    {0x8002000CU, COM_TEXT("Unknown language")}, // DISP_E_UNKNOWNLCID
    {0x8002000DU, COM_TEXT("Memory is locked")}, // DISP_E_ARRAYISLOCKED
    {0x8002000EU, COM_TEXT("Invalid number of parameters")}, // DISP_E_BADPARAMCOUNT
    {0x8002000FU, COM_TEXT("Parameter not optional")}, // DISP_E_PARAMNOTOPTIONAL
    {0x80020010U, COM_TEXT("Invalid callee")}, // DISP_E_BADCALLEE
    {0x80020011U, COM_TEXT("Does not support a collection")}, // DISP_E_NOTACOLLECTION
    {0x80020012U, COM_TEXT("Division by zero")}, // DISP_E_DIVBYZERO
    {0x80020246U, COM_TEXT("Illegal Character")},
    {0x80030002U, COM_TEXT("File not found")}, // STG_E_FILENOTFOUND
    {0x80030103U, COM_TEXT("Can't open file for save")}, // STG_E_CANTSAVE
    {0x80040110U, COM_TEXT("Can't aggregate this object")}, // CLASS_E_NOAGGREGATION
    {0x80040111U, COM_TEXT("CoClass not available")}, // CLASS_E_CLASSNOTAVAILABLE
    {0x80040150U, COM_TEXT("Could not read from the registry")}, // REGDB_E_READREGDB
    {0x80040151U, COM_TEXT("Could not write to the registry")}, // REGDB_E_WRITEREGDB
    {0x80040152U, COM_TEXT("Key is missing from the registry")}, // REGDB_E_KEYMISSING
    {0x80040153U, COM_TEXT("Invalid value for registry")}, // REGDB_E_INVALIDVALUE
    {0x800401F8U, COM_TEXT("Couldn't find DLL")}, // CO_E_DLLNOTFOUND
    {0x800401F9U, COM_TEXT("Entry point not found in DLL")}, // CO_E_ERRORINDLL
    {0x80040300U, COM_TEXT("No resource")},
    {0x80040301U, COM_TEXT("Already have this item")},
    {0x80040302U, COM_TEXT("Does not have this item")},
    {0x8007000EU, COM_TEXT("Ran out of memory")}, // E_OUTOFMEMORY
    {0x80070057U, COM_TEXT("One or more arguments are invalid")}, // E_INVALIDARG
    {0x80100001U, COM_TEXT("SSH: Not currently connected")},
    {0x80100002U, COM_TEXT("SSH: Host key mismatched")},
    {0x80100003U, COM_TEXT("SSH: Invalid hostname or address")},
    {0x80100004U, COM_TEXT("SSH: Operation timed out")},
    {0x80100005U, COM_TEXT("SSH: Already connected")},
    {0x80100006U, COM_TEXT("SSH: No session")},
    {0x80100007U, COM_TEXT("SSH: No channel")},
    {0x80100008U, COM_TEXT("SSH: No SFTP handle")},
    {0x80100009U, COM_TEXT("SSH: Session in use")},
    {0x8010000AU, COM_TEXT("SSH: Already Authenticated")},
    {0x8010000BU, COM_TEXT("SSH: Invalid host key")},
    {0x80670001U, COM_TEXT("TNode internal error")},
    {0x80670002U, COM_TEXT("TAVO server error")},
    {0x80670003U, COM_TEXT("TAVO TNodeServer interface is not set")},
    {0x80670004U, COM_TEXT("Keyword descriptor is missing or incorrect")},
    {0x80670005U, COM_TEXT("Element name conflict")},
    {0x80670006U, COM_TEXT("Element name is invalid")},
    {0x80670007U, COM_TEXT("Class does not exist")},
    {0x80670008U, COM_TEXT("TNode not found")},
    {0x80670009U, COM_TEXT("Class already exists")},
    {0x8067000AU, COM_TEXT("Class name is invalid")},
    {0x8067000BU, COM_TEXT("Class name is longer than 127 characters")},
    {0x8067000CU, COM_TEXT("Class member name is longer than 31 characters")},
    {0x8067000DU, COM_TEXT("Class can not be opened because it is deployed")},
    {0x8067000EU, COM_TEXT("Communication protocol errorror")},
    {0x8067000FU, COM_TEXT("Server Disconnected")},
    {0x80680001U, COM_TEXT("Error during parse")},
    {0x80680002U, COM_TEXT("Error during compilation")},
    {0x80680003U, COM_TEXT("Syntax Error")},
    {0x80680004U, COM_TEXT("Parser does not support this moniker extension")},
    {0x80720001U, COM_TEXT("Bad XML Definition")},
    {0x80730001U, COM_TEXT("Invalid attribute bookmark")},
    {0x80740001U, COM_TEXT("Activate: result too large")},
    {0x807A0001U, COM_TEXT("Open LDAP Initialization Failed")},
    {0x807F0001U, COM_TEXT("Unable to spawn child process")},
    {0x807F0002U, COM_TEXT("Error in spawned child process")},
    {0x807F0003U, COM_TEXT("Server Errorr")},
    {0x807F0004U, COM_TEXT("XMLHttpRequest Error")},
    {0x807F0005U, COM_TEXT("Protocol Version Error")},
    {0x807F0006U, COM_TEXT("Data Format Error")},
};

inline constexpr size_t kMessageTableRows = std::size(kMessageTable);
static_assert(kMessageTableRows == 80);
static_assert(std::is_sorted(std::begin(kMessageTable), std::end(kMessageTable),
                             [](const MessageRow& a, const MessageRow& b) { return a.code < b.code; }));

/// The row's text of exactly `code`, or null.
inline const COM_WCHAR* FindMessage(uint32_t code) noexcept {
    const MessageRow* row = std::lower_bound(std::begin(kMessageTable), std::end(kMessageTable), code,
                                             [](const MessageRow& r, uint32_t c) { return r.code < c; });
    return row != std::end(kMessageTable) && row->code == code ? row->text : nullptr;
}

} // namespace tavo::decoding

#endif
