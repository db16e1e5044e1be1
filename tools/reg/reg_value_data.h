// The data of `reg add` as the registry stores it, from the /t, /d and /s
// arguments, and the other way round for `reg query`.
#ifndef TAVOCOM_TOOLS_REG_REG_VALUE_DATA_H
#define TAVOCOM_TOOLS_REG_REG_VALUE_DATA_H

#include <cstdint>
#include <optional>
#include <string>

namespace tavo::tools::regtext {

struct ValueArguments {
    std::string type = "REG_SZ";   ///< any case
    std::optional<std::string> data; ///< /d, in the ANSI code page as given
    char separator = 0;            ///< /s: of REG_MULTI_SZ strings (0: the text `\0`)
};

/// The value's type and its bytes as the platform's 8-bit calls take them
/// (text types in the ANSI code page, terminators included). False, with
/// `error` saying why, for a type or data that the value cannot have.
bool EncodeValue(const ValueArguments& in, uint32_t* type, std::string* bytes, std::string* error);

/// The name of a value type (REG_? for one it does not know).
const char* TypeName(uint32_t type);

/// Data as `reg query` shows it: texts as they are (the strings of a
/// REG_MULTI_SZ joined by `\0`), numbers in hexadecimal and decimal, the rest
/// as hexadecimal bytes.
std::string ShowValue(uint32_t type, const std::string& bytes);

} // namespace tavo::tools::regtext

#endif
