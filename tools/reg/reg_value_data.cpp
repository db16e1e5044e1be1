#include "tools/reg/reg_value_data.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/registry.h"
#include "tools/reg/reg_text_store.h"

namespace tavo::tools::regtext {
namespace {

constexpr uint32_t kNone = 0, kQword = 11;

struct TypeEntry {
    const char* name;
    uint32_t type;
};
const TypeEntry kTypes[] = {{"REG_NONE", kNone},          {"REG_SZ", kTypeSz},         {"REG_EXPAND_SZ", kTypeExpandSz},
                            {"REG_BINARY", kTypeBinary},  {"REG_DWORD", kTypeDword},   {"REG_MULTI_SZ", kTypeMultiSz},
                            {"REG_QWORD", kQword}};

bool SameText(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

// Decimal, or hexadecimal behind 0x; no sign, no blanks (a leading zero
// keeps the number decimal, as the platform tool reads it).
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) return false;
    for (char c : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || v > max) return false;
    *value = v;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The strings of a REG_MULTI_SZ, each with its terminator, and the list's
// own. A separator at the end is taken as nothing; an empty string between
// two is refused, since it would end the list.
bool EncodeMulti(const std::string& data, char separator, std::string* bytes) {
    bytes->clear();
    size_t from = 0;
    while (from < data.size()) {
        size_t at = separator ? data.find(separator, from) : data.find("\\0", from);
        if (at == std::string::npos) at = data.size();
        if (at == from) return false;
        bytes->append(data, from, at - from).push_back('\0');
        from = at + (separator ? 1 : 2);
    }
    bytes->push_back('\0');
    return true;
}

} // namespace

const char* TypeName(uint32_t type) {
    for (const TypeEntry& t : kTypes)
        if (t.type == type) return t.name;
    return "REG_?";
}

bool EncodeValue(const ValueArguments& in, uint32_t* type, std::string* bytes, std::string* error) {
    const TypeEntry* found = nullptr;
    for (const TypeEntry& t : kTypes)
        if (SameText(in.type, t.name)) found = &t;
    if (!found) {
        *error = "unsupported type " + in.type +
                 " (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE)";
        return false;
    }
    *type = found->type;
    const std::string data = in.data.value_or(std::string());
    switch (found->type) {
    case kTypeSz:
    case kTypeExpandSz: bytes->assign(data.c_str(), data.size() + 1); return true;
    case kNone: {
        // Stored as the wide calls store a text, as the platform tool does.
        const utf::WideString wide = FromAnsiCodePage(data.data(), data.size());
        bytes->clear();
        for (COM_WCHAR c : wide) bytes->append({char(uint16_t(c) & 0xFF), char(uint16_t(c) >> 8)});
        bytes->append(2, '\0');
        return true;
    }
    case kTypeMultiSz:
        if (EncodeMulti(data, in.separator, bytes)) return true;
        *error = "REG_MULTI_SZ data has an empty string before a separator: " + data;
        return false;
    case kTypeDword:
    case kQword: {
        const bool dword = found->type == kTypeDword;
        uint64_t v = 0;
        if (!in.data || !ParseNumber(data, dword ? 0xFFFFFFFFull : ~0ull, &v)) {
            *error = std::string(found->name) + " data must be a number from 0 to " +
                     (dword ? "4294967295" : "18446744073709551615") + ", decimal or 0x hexadecimal: " +
                     (in.data ? data : std::string("(no /d)"));
            return false;
        }
        // Little-endian, as both systems store numbers.
        bytes->clear();
        for (int i = 0; i < (dword ? 4 : 8); ++i) bytes->push_back(char(uint8_t(v >> (8 * i))));
        return true;
    }
    default: { // REG_BINARY: hexadecimal digits, an odd first one alone
        bytes->clear();
        size_t i = data.size() % 2;
        if (i) {
            if (HexDigit(data[0]) < 0) break;
            bytes->push_back(char(HexDigit(data[0])));
        }
        for (; i < data.size(); i += 2) {
            const int high = HexDigit(data[i]), low = HexDigit(data[i + 1]);
            if (high < 0 || low < 0) break;
            bytes->push_back(char(high << 4 | low));
        }
        if (i >= data.size()) return true;
    }
    }
    *error = "REG_BINARY data must be hexadecimal digits (no 0x, no blanks): " + data;
    return false;
}

std::string ShowValue(uint32_t type, const std::string& data) {
    if ((type == kTypeSz || type == kTypeExpandSz) && !data.empty()) return data.substr(0, data.find('\0'));
    if (type == kTypeMultiSz) {
        std::string shown;
        for (size_t from = 0; from < data.size() && data[from];) {
            size_t end = data.find('\0', from);
            if (end == std::string::npos) end = data.size();
            shown += (shown.empty() ? "" : "\\0") + data.substr(from, end - from);
            from = end + 1;
        }
        return shown;
    }
    if ((type == kTypeDword && data.size() == 4) || (type == kQword && data.size() == 8)) {
        uint64_t v = 0;
        for (size_t i = data.size(); i-- > 0;) v = v << 8 | uint8_t(data[i]);
        char text[48];
        std::snprintf(text, sizeof text, type == kTypeDword ? "0x%08llX (%llu)" : "0x%016llX (%llu)",
                      (unsigned long long)v, (unsigned long long)v);
        return text;
    }
    std::string hex;
    char b[4];
    for (char c : data) {
        std::snprintf(b, sizeof b, "%02X", unsigned(uint8_t(c)));
        hex += b;
    }
    return hex;
}

} // namespace tavo::tools::regtext
