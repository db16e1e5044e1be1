// Registry text files as the platform's registry editor reads and writes
// them, over an in-memory tree: parsing and writing only, no registry.
//
// Writing gives the version 5 form (UTF-16LE with a byte-order mark, CRLF
// lines, hexadecimal data wrapped at the platform tool's width). Reading
// takes that form and the older 8-bit one ("REGEDIT4"), `[-KEY]` to delete
// a key tree, `"name"=-` to delete a value, blank lines and `;` comments.
#ifndef TAVOCOM_TOOLS_REG_REG_TEXT_H
#define TAVOCOM_TOOLS_REG_REG_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/utf.h"

namespace tavo::tools::regtext {

inline constexpr uint32_t kTypeSz = 1, kTypeExpandSz = 2, kTypeBinary = 3, kTypeDword = 4, kTypeMultiSz = 7;

struct Value {
    std::string name;  ///< UTF-8; empty: the default value
    bool remove = false; ///< "name"=-
    uint32_t type = 0;
    /// As the platform's wide calls hold it: string types in UTF-16LE,
    /// terminators included.
    std::vector<uint8_t> data;
    bool operator==(const Value& o) const {
        return name == o.name && remove == o.remove && type == o.type && data == o.data;
    }
};

struct Key {
    /// UTF-8, beginning with HKEY_LOCAL_MACHINE\ or HKEY_CURRENT_USER\.
    std::string path;
    bool remove = false; ///< [-path]: the key and its whole tree go
    std::vector<Value> values;
    size_t line = 0; ///< where the key line stands in its file (0: not read from one)
    bool operator==(const Key& o) const { return path == o.path && remove == o.remove && values == o.values; }
};

/// Keys in file order.
using Tree = std::vector<Key>;

struct ParseError {
    size_t line = 0;
    std::string what;
};

/// Converts 8-bit text of the ANSI code page to UTF-16.
using AnsiDecoder = utf::WideString (*)(const char* text, size_t length);

/// Parses a whole file. False, with the first fault and its line, for any
/// malformed input; `tree` is then left empty.
bool Parse(const std::string& bytes, Tree* tree, ParseError* error, AnsiDecoder decode = &utf::Utf8ToUtf16);

/// Files of more bytes are not read: import refuses them, export writes none.
inline constexpr size_t kMaxFileBytes = size_t(64) << 20;

/// The version 5 file of `tree`. Strings that the quoted form would not
/// give back byte for byte (no terminator, embedded zeros) are written as
/// hex(1):, a DWORD of another size as hex(4):.
std::string Write(const Tree& tree);
/// As Write, but false (and `bytes` empty) as soon as the file would pass
/// `limit` bytes, so that it never takes more memory than that.
bool WriteWithin(const Tree& tree, size_t limit, std::string* bytes);

/// The long hive name that `head` (HKLM, HKEY_CURRENT_USER, ...) stands
/// for, case-insensitively; empty for any other text.
std::string HiveName(const std::string& head);

} // namespace tavo::tools::regtext

#endif
