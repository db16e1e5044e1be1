// Registry text files: the parser and the writer. The parser decodes the
// whole file to UTF-16 first and then reads it line by line, so that both
// forms share one grammar; every scan moves forward only, and a line of any
// length costs time in proportion to it.
#include "tools/reg/reg_text.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

namespace tavo::tools::regtext {
namespace {

using WString = utf::WideString;

constexpr size_t kMaxKeyName = 255;     // one level of a key path
constexpr size_t kMaxValueName = 16383; // the platform's limits
constexpr size_t kWrapColumn = 76;      // hex data wraps past this column
const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

struct Failure {
    size_t line;
    std::string what;
};

bool Space(COM_WCHAR c) { return c == ' ' || c == '\t'; }

int HexDigit(COM_WCHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Utf8(const COM_WCHAR* p, size_t n) { return utf::Utf16ToUtf8(p, n); }
WString Wide(const std::string& s) { return utf::Utf8ToUtf16(s.data(), s.size()); }

/// A piece of a line for a message: at most a few dozen characters.
std::string Excerpt(const COM_WCHAR* p, size_t n) {
    constexpr size_t kMost = 40;
    return n > kMost ? Utf8(p, kMost) + "..." : Utf8(p, n);
}

void AppendLe(const WString& text, std::vector<uint8_t>* out) {
    for (COM_WCHAR c : text) {
        out->push_back(uint8_t(uint16_t(c) & 0xFF));
        out->push_back(uint8_t(uint16_t(c) >> 8));
    }
}

size_t LineOf(const WString& text, size_t at) {
    size_t line = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == '\n';
    return line;
}

/// The file as UTF-16 text; `eightBit` tells whether it was 8-bit text.
WString Decode(const std::string& bytes, AnsiDecoder decode, bool* eightBit) {
    auto starts = [&](const char* bom, size_t n) { return bytes.size() >= n && bytes.compare(0, n, bom, n) == 0; };
    WString text;
    *eightBit = false;
    if (starts("\xFF\xFE", 2)) {
        text.reserve((bytes.size() - 2) / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += COM_WCHAR(uint8_t(bytes[i]) | uint16_t(uint8_t(bytes[i + 1])) << 8);
        if (bytes.size() % 2) throw Failure{LineOf(text, text.size()), "the file ends inside a UTF-16 character"};
    } else if (starts("\xFE\xFF", 2)) {
        throw Failure{1, "UTF-16 big-endian text is not read: save the file as UTF-16LE or as 8-bit text"};
    } else if (starts("\xEF\xBB\xBF", 3)) {
        text = utf::Utf8ToUtf16(bytes.data() + 3, bytes.size() - 3);
        *eightBit = true;
    } else {
        text = decode(bytes.data(), bytes.size());
        *eightBit = true;
    }
    size_t zero = text.find(COM_WCHAR(0));
    if (zero != WString::npos)
        throw Failure{LineOf(text, zero), *eightBit ? "a zero byte: not 8-bit text (UTF-16 without its byte-order mark?)"
                                                    : "a zero character in the text"};
    return text;
}

class Parser {
public:
    Parser(const WString& text, AnsiDecoder decode) : m_text(text), m_decode(decode) {}

    void Run(Tree* tree) {
        if (m_text.empty() || !NextLine()) throw Failure{1, "an empty file: the header line is missing"};
        WString header(m_p, m_n);
        while (!header.empty() && Space(header.back())) header.pop_back();
        if (header == Wide(kHeader4)) {
            m_oldForm = true;
        } else if (header != Wide(kHeader5)) {
            throw Failure{1, std::string("not a registry file: the first line must be \"") + kHeader5 + "\" or \"" +
                                 kHeader4 + "\""};
        }
        while (NextLine()) {
            m_i = 0;
            SkipSpace();
            if (AtEnd() || m_p[m_i] == ';') continue;
            if (m_p[m_i] == '[') {
                tree->push_back(KeyLine());
            } else if (m_p[m_i] == '"' || m_p[m_i] == '@') {
                if (tree->empty()) Fail("a value before the first [KEY] line");
                if (tree->back().remove) Fail("a value under a deleted key [-...]");
                tree->back().values.push_back(ValueLine());
            } else {
                Fail("expected a [KEY] line, a value line, a ; comment or a blank line: " + Excerpt(m_p, m_n));
            }
        }
    }

private:
    [[noreturn]] void Fail(const std::string& what) const { throw Failure{m_line, what}; }

    bool NextLine() {
        if (m_pos > m_text.size()) return false;
        size_t end = m_text.find(COM_WCHAR('\n'), m_pos);
        if (end == WString::npos) end = m_text.size();
        if (m_pos == m_text.size() && m_line > 0) return false; // nothing after the last line break
        m_p = m_text.data() + m_pos;
        m_n = end - m_pos;
        if (m_n && m_p[m_n - 1] == '\r') --m_n;
        m_pos = end + 1;
        ++m_line;
        m_i = 0;
        return true;
    }

    bool AtEnd() const { return m_i >= m_n; }
    void SkipSpace() {
        while (!AtEnd() && Space(m_p[m_i])) ++m_i;
    }
    bool RestIsSpace(size_t from) const {
        for (size_t k = from; k < m_n; ++k)
            if (!Space(m_p[k])) return false;
        return true;
    }
    /// Case-insensitive ASCII prefix at the cursor; moves past it.
    bool Take(const char* word) {
        size_t k = 0;
        for (; word[k]; ++k)
            if (m_i + k >= m_n || std::tolower(static_cast<unsigned char>(word[k])) !=
                                      (m_p[m_i + k] < 0x80 ? std::tolower(int(m_p[m_i + k])) : -1))
                return false;
        m_i += k;
        return true;
    }

    Key KeyLine() {
        Key key;
        key.line = m_line;
        size_t end = m_n;
        while (end > m_i && Space(m_p[end - 1])) --end;
        if (end - m_i < 2 || m_p[end - 1] != ']') Fail("a key line without its closing ]");
        size_t from = m_i + 1;
        if (m_p[from] == '-') {
            key.remove = true;
            ++from;
        }
        WString path(m_p + from, end - 1 - from);
        size_t slash = path.find(COM_WCHAR('\\'));
        std::string hive = HiveName(Utf8(path.data(), slash == WString::npos ? path.size() : slash));
        if (hive.empty())
            Fail("a key outside HKEY_LOCAL_MACHINE\\ and HKEY_CURRENT_USER\\: " + Excerpt(path.data(), path.size()));
        if (slash == WString::npos || slash + 1 == path.size()) Fail("a whole hive cannot be imported or deleted");
        for (size_t at = slash + 1; at <= path.size();) {
            size_t next = path.find(COM_WCHAR('\\'), at);
            if (next == WString::npos) next = path.size();
            if (next == at) Fail("an empty key name in the path (\\\\ or a trailing \\)");
            if (next - at > kMaxKeyName) Fail("a key name longer than 255 characters");
            at = next + 1;
        }
        key.path = hive + Utf8(path.data() + slash, path.size() - slash);
        return key;
    }

    /// A quoted text at the cursor, its escapes resolved; the cursor ends
    /// past the closing quote.
    WString Quoted() {
        WString out;
        for (++m_i; !AtEnd(); ++m_i) {
            COM_WCHAR c = m_p[m_i];
            if (c == '"') {
                ++m_i;
                return out;
            }
            if (c == '\\') {
                if (++m_i >= m_n) break;
                switch (m_p[m_i]) {
                case '\\': out += COM_WCHAR('\\'); break;
                case '"': out += COM_WCHAR('"'); break;
                case 'n': out += COM_WCHAR('\n'); break;
                case 'r': out += COM_WCHAR('\r'); break;
                default: Fail("an unknown escape \\" + Utf8(m_p + m_i, 1) + " in a quoted text (write \\\\ for \\)");
                }
                continue;
            }
            out += c;
        }
        Fail("a quoted text without its closing quote");
    }

    Value ValueLine() {
        Value v;
        if (m_p[m_i] == '@') {
            ++m_i;
        } else {
            WString name = Quoted();
            if (name.empty()) Fail("an empty value name: the default value is written @");
            if (name.size() > kMaxValueName) Fail("a value name longer than 16383 characters");
            v.name = Utf8(name.data(), name.size());
        }
        SkipSpace();
        if (AtEnd() || m_p[m_i] != '=') Fail("expected = after the value name");
        ++m_i;
        SkipSpace();
        if (AtEnd()) Fail("a value without data");
        if (m_p[m_i] == '-' && RestIsSpace(m_i + 1)) {
            v.remove = true;
        } else if (m_p[m_i] == '"') {
            WString text = Quoted();
            if (!RestIsSpace(m_i)) Fail("text after the closing quote");
            v.type = kTypeSz;
            AppendLe(text, &v.data);
            v.data.insert(v.data.end(), {0, 0});
        } else if (Take("dword:")) {
            uint32_t n = 0;
            size_t digits = 0;
            for (int d; !AtEnd() && (d = HexDigit(m_p[m_i])) >= 0; ++m_i, ++digits) n = n << 4 | uint32_t(d);
            if (digits == 0 || digits > 8 || !RestIsSpace(m_i)) Fail("dword: takes one to eight hex digits");
            v.type = kTypeDword;
            for (int b = 0; b < 4; ++b) v.data.push_back(uint8_t(n >> (8 * b)));
        } else if (Take("hex:")) {
            v.type = kTypeBinary;
            HexBytes(&v);
        } else if (Take("hex(")) {
            uint32_t n = 0;
            size_t digits = 0;
            for (int d; !AtEnd() && (d = HexDigit(m_p[m_i])) >= 0; ++m_i, ++digits) n = n << 4 | uint32_t(d);
            if (digits == 0 || digits > 8 || !Take("):")) Fail("hex(N): takes a type of one to eight hex digits");
            v.type = n;
            HexBytes(&v);
        } else {
            Fail("an unknown value type: " + Excerpt(m_p + m_i, m_n - m_i) +
                 " (expected \"text\", dword:, hex:, hex(N): or -)");
        }
        return v;
    }

    /// Comma-separated bytes from the cursor on, over lines that end in \.
    void HexBytes(Value* v) {
        bool needComma = false;
        for (;;) {
            SkipSpace();
            if (AtEnd()) break;
            COM_WCHAR c = m_p[m_i];
            if (needComma) {
                if (c != ',') Fail("expected , between hex bytes");
                ++m_i;
                needComma = false;
            } else if (c == '\\' && RestIsSpace(m_i + 1)) {
                if (!NextLine()) Fail("the file ends inside a value continued with \\");
            } else {
                int hi = HexDigit(c), lo = m_i + 1 < m_n ? HexDigit(m_p[m_i + 1]) : -1;
                if (hi < 0 || lo < 0) Fail("expected a hex byte of two digits: " + Excerpt(m_p + m_i, m_n - m_i));
                v->data.push_back(uint8_t(hi << 4 | lo));
                m_i += 2;
                needComma = true;
            }
        }
        const bool text = v->type == kTypeSz || v->type == kTypeExpandSz || v->type == kTypeMultiSz;
        if (text && m_oldForm) {
            // The 8-bit form holds these as 8-bit text.
            WString wide = m_decode(reinterpret_cast<const char*>(v->data.data()), v->data.size());
            v->data.clear();
            AppendLe(wide, &v->data);
        } else if (text && v->data.size() % 2) {
            Fail("text data of an odd number of bytes: not whole UTF-16 characters");
        }
    }

    const WString& m_text;
    const AnsiDecoder m_decode;
    bool m_oldForm = false;
    size_t m_pos = 0;  // start of the next line
    size_t m_line = 0; // number of the current line
    const COM_WCHAR* m_p = nullptr;
    size_t m_n = 0; // the current line, without its line break
    size_t m_i = 0; // the cursor in it
};

/// The file as it is written: UTF-16LE bytes behind their byte-order mark,
/// refused (TooLarge) as soon as they would pass their limit.
struct TooLarge {};
class Out {
public:
    explicit Out(size_t limit) : m_limit(limit), m_bytes("\xFF\xFE") {}
    void Put(COM_WCHAR c) {
        if (m_bytes.size() + 2 > m_limit) throw TooLarge{};
        m_bytes += char(uint16_t(c) & 0xFF);
        m_bytes += char(uint16_t(c) >> 8);
    }
    void Put(const char* ascii) {
        while (*ascii) Put(COM_WCHAR(static_cast<unsigned char>(*ascii++)));
    }
    void Put(const WString& text) {
        for (COM_WCHAR c : text) Put(c);
    }
    void PutEscaped(const WString& text) {
        for (COM_WCHAR c : text) {
            if (c == '\\' || c == '"') Put(COM_WCHAR('\\'));
            if (c == '\n' || c == '\r') Put(c == '\n' ? "\\n" : "\\r");
            else Put(c);
        }
    }
    size_t Characters() const { return m_bytes.size() / 2; }
    std::string& Bytes() { return m_bytes; }

private:
    size_t m_limit;
    std::string m_bytes;
};

/// The text of string data that the quoted form gives back exactly: one
/// terminator at its end and no other zero.
bool PlainText(const std::vector<uint8_t>& data, WString* text) {
    if (data.size() < 2 || data.size() % 2) return false;
    text->clear();
    for (size_t i = 0; i + 2 < data.size(); i += 2) {
        COM_WCHAR c = COM_WCHAR(data[i] | uint16_t(data[i + 1]) << 8);
        if (c == 0) return false;
        *text += c;
    }
    return data[data.size() - 2] == 0 && data.back() == 0;
}

void PutValue(Out* out, const Value& v) {
    const size_t lineStart = out->Characters();
    if (v.name.empty()) {
        out->Put("@=");
    } else {
        out->Put("\"");
        out->PutEscaped(Wide(v.name));
        out->Put("\"=");
    }
    WString text;
    char buf[32];
    if (v.remove) {
        out->Put("-");
    } else if (v.type == kTypeSz && PlainText(v.data, &text)) {
        out->Put("\"");
        out->PutEscaped(text);
        out->Put("\"");
    } else if (v.type == kTypeDword && v.data.size() == 4) {
        uint32_t n = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 | uint32_t(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        out->Put(buf);
    } else {
        if (v.type == kTypeBinary) {
            out->Put("hex:");
        } else {
            std::snprintf(buf, sizeof buf, "hex(%x):", unsigned(v.type));
            out->Put(buf);
        }
        size_t column = out->Characters() - lineStart;
        for (size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
            out->Put(buf);
            if (i + 1 == v.data.size()) break;
            out->Put(",");
            column += 3;
            if (column > kWrapColumn) {
                out->Put("\\\r\n  ");
                column = 2;
            }
        }
    }
    out->Put("\r\n");
}

} // namespace

std::string HiveName(const std::string& head) {
    std::string upper;
    for (char c : head) upper += char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "HKLM" || upper == "HKEY_LOCAL_MACHINE") return "HKEY_LOCAL_MACHINE";
    if (upper == "HKCU" || upper == "HKEY_CURRENT_USER") return "HKEY_CURRENT_USER";
    return std::string();
}

bool Parse(const std::string& bytes, Tree* tree, ParseError* error, AnsiDecoder decode) {
    tree->clear();
    try {
        bool eightBit = false;
        WString text = Decode(bytes, decode, &eightBit);
        Parser(text, decode).Run(tree);
        return true;
    } catch (const Failure& f) {
        tree->clear();
        error->line = f.line;
        error->what = f.what;
        return false;
    }
}

bool WriteWithin(const Tree& tree, size_t limit, std::string* bytes) {
    bytes->clear();
    Out out(limit);
    try {
        out.Put(kHeader5);
        out.Put("\r\n\r\n");
        for (const Key& key : tree) {
            out.Put(key.remove ? "[-" : "[");
            out.Put(Wide(key.path));
            out.Put("]\r\n");
            for (const Value& v : key.values) PutValue(&out, v);
            out.Put("\r\n");
        }
    } catch (const TooLarge&) {
        return false;
    }
    *bytes = std::move(out.Bytes());
    return true;
}

std::string Write(const Tree& tree) {
    std::string bytes;
    WriteWithin(tree, SIZE_MAX, &bytes);
    return bytes;
}

} // namespace tavo::tools::regtext
