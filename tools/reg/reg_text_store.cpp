// Registry text trees read from and written into the registry through the
// platform's 8-bit calls. Those hold string data in the ANSI code page, the
// tree holds it as the wide calls do: the conversions sit here.
#include "tools/reg/reg_text_store.h"

#include "registry/tree.h"

namespace tavo::tools::regtext {
namespace {

using plat::RegKey;
using plat::RegKeyHandle;

bool TextType(uint32_t type) { return type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz; }

/// UTF-16 to the ANSI code page, every unit converted (zeros too).
bool ToAnsiCodePage(const utf::WideString& text, std::string* out) {
    out->clear();
    if (text.empty()) return true;
    int32_t n = plat::WideCharToMultiByte(text.data(), int32_t(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out->resize(size_t(n));
    return plat::WideCharToMultiByte(text.data(), int32_t(text.size()), out->data(), n) == n;
}

bool AnsiFromUtf8(const std::string& utf8, std::string* out) {
    return ToAnsiCodePage(utf::Utf8ToUtf16(utf8.data(), utf8.size()), out);
}

std::string Utf8FromAnsi(const std::string& text) {
    utf::WideString wide = FromAnsiCodePage(text.data(), text.size());
    return utf::Utf16ToUtf8(wide.data(), wide.size());
}

/// Opens, or with `create` creates, the key `below` (UTF-8) one level at a
/// time: a path of any length, where the 8-bit calls take 260 characters.
uint32_t OpenPath(RegKeyHandle hive, const std::string& below, bool create, RegKey* out) {
    const uint32_t access = create ? plat::kKeyAllAccess : plat::kKeyRead;
    RegKey current;
    std::string level;
    size_t from = 0;
    do {
        size_t next = below.find('\\', from);
        if (next == std::string::npos) next = below.size();
        if (!AnsiFromUtf8(below.substr(from, next - from), &level)) return plat::kErrorInvalidParameter;
        RegKeyHandle at = current ? current.Get() : hive;
        RegKey key;
        uint32_t e = create ? plat::RegCreateKeyExA(at, level.c_str(), access, key.Put(), nullptr)
                            : plat::RegOpenKeyExA(at, level.c_str(), access, key.Put());
        if (e) return e;
        current = std::move(key);
        from = next + 1;
    } while (from <= below.size());
    *out = std::move(current);
    return 0;
}

uint32_t ApplyKey(RegKeyHandle hive, const std::string& below, const Key& k) {
    if (k.remove) {
        // A missing tree is no fault; the look first keeps the batch clean.
        RegKey probe, parent;
        uint32_t e = OpenPath(hive, below, false, &probe);
        if (e == plat::kErrorFileNotFound) return 0;
        if (e) return e;
        probe.Reset();
        // The parent exists (the probe found its child); it is opened for writing.
        const size_t slash = below.rfind('\\');
        std::string last;
        if (slash != std::string::npos && (e = OpenPath(hive, below.substr(0, slash), true, &parent))) return e;
        if (!AnsiFromUtf8(below.substr(slash == std::string::npos ? 0 : slash + 1), &last))
            return plat::kErrorInvalidParameter;
        return registry::DeleteTree(parent ? parent.Get() : hive, last.c_str(), plat::kKeyAllAccess);
    }
    RegKey key;
    if (uint32_t e = OpenPath(hive, below, true, &key)) return e;
    std::string name, data;
    for (const Value& v : k.values) {
        if (!AnsiFromUtf8(v.name, &name)) return plat::kErrorInvalidParameter;
        if (v.remove) {
            uint32_t e = plat::RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, nullptr);
            if (e == plat::kErrorFileNotFound) continue;
            if (e || (e = plat::RegDeleteValueA(key.Get(), name.c_str()))) return e;
            continue;
        }
        if (TextType(v.type)) {
            utf::WideString wide;
            for (size_t i = 0; i + 1 < v.data.size(); i += 2) wide += COM_WCHAR(v.data[i] | uint16_t(v.data[i + 1]) << 8);
            if (!ToAnsiCodePage(wide, &data)) return plat::kErrorInvalidParameter;
        } else {
            data.assign(v.data.begin(), v.data.end());
        }
        if (uint32_t e = plat::RegSetValueExA(key.Get(), name.c_str(), v.type,
                                              reinterpret_cast<const uint8_t*>(data.data()), uint32_t(data.size())))
            return e;
    }
    return 0;
}

} // namespace

utf::WideString FromAnsiCodePage(const char* text, size_t length) {
    if (length == 0) return utf::WideString();
    int32_t n = plat::MultiByteToWideChar(text, int32_t(length), nullptr, 0);
    utf::WideString out(size_t(n > 0 ? n : 0), COM_WCHAR(0));
    if (n > 0 && plat::MultiByteToWideChar(text, int32_t(length), out.data(), n) != n) out.clear();
    return out;
}

bool ParseHiveKey(const std::string& text, HiveKey* key) {
    const size_t slash = text.find('\\');
    key->hiveName = HiveName(text.substr(0, slash));
    if (key->hiveName.empty()) return false;
    key->hive = key->hiveName == "HKEY_LOCAL_MACHINE" ? plat::kHKeyLocalMachine : plat::kHKeyCurrentUser;
    key->below = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!key->below.empty() && key->below.back() == '\\') key->below.pop_back();
    return true;
}

uint32_t ReadValues(RegKeyHandle key, std::vector<RawValue>* values) {
    values->clear();
    uint32_t longestValue = 0;
    if (uint32_t e = plat::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &longestValue)) return e;
    // Characters, which take up to three bytes each in a multi-byte code page.
    std::vector<char> name(size_t(longestValue) * 3 + 2);
    for (uint32_t i = 0;; ++i) {
        uint32_t size = uint32_t(name.size()), type = 0, dataSize = 0;
        uint32_t e = plat::RegEnumValueA(key, i, name.data(), &size, &type, nullptr, &dataSize);
        if (e == plat::kErrorNoMoreItems) return 0;
        if (e) return e;
        RawValue v{std::string(name.data(), size), type, std::string(dataSize, '\0')};
        uint32_t got = dataSize;
        if ((e = plat::RegQueryValueExA(key, v.name.c_str(), &v.type, reinterpret_cast<uint8_t*>(v.data.data()), &got)))
            return e;
        v.data.resize(got);
        values->push_back(std::move(v));
    }
}

uint32_t ReadTree(const std::string& path, Tree* tree) {
    tree->clear();
    HiveKey where;
    if (!ParseHiveKey(path, &where)) return plat::kErrorInvalidParameter;
    RegKey root;
    if (uint32_t e = OpenPath(where.hive, where.below, false, &root)) return e;
    std::vector<RawValue> raw;
    uint32_t e = registry::WalkTree(root.Get(), [&](RegKeyHandle key, const std::vector<std::string>& names) {
        Key k;
        k.path = where.Shown();
        for (const std::string& n : names) k.path += "\\" + Utf8FromAnsi(n);
        if (uint32_t e = ReadValues(key, &raw)) return e;
        for (RawValue& r : raw) {
            Value v;
            v.name = Utf8FromAnsi(r.name);
            v.type = r.type;
            if (TextType(r.type)) {
                utf::WideString wide = FromAnsiCodePage(r.data.data(), r.data.size());
                for (COM_WCHAR c : wide) v.data.insert(v.data.end(), {uint8_t(uint16_t(c) & 0xFF), uint8_t(uint16_t(c) >> 8)});
            } else {
                v.data.assign(r.data.begin(), r.data.end());
            }
            k.values.push_back(std::move(v));
        }
        tree->push_back(std::move(k));
        return uint32_t(0);
    });
    if (e) tree->clear();
    return e;
}

uint32_t Apply(const Tree& tree, ApplyFailure* failure) {
    *failure = ApplyFailure();
    if (tree.empty()) return 0;
    std::vector<HiveKey> keys(tree.size());
    for (size_t i = 0; i < tree.size(); ++i) {
        if (!ParseHiveKey(tree[i].path, &keys[i]) || keys[i].hive != keys[0].hive) {
            failure->line = tree[i].line;
            failure->what = "keys of both hives in one file: import them from a file for each";
            return failure->error = plat::kErrorInvalidParameter;
        }
    }
    WriteBatch batch(keys[0].hive);
    if (uint32_t e = batch.BeginError()) {
        failure->what = "the registry cannot be written";
        return failure->error = e;
    }
    for (size_t i = 0; i < tree.size(); ++i) {
        if (uint32_t e = ApplyKey(keys[i].hive, keys[i].below, tree[i])) {
            failure->line = tree[i].line;
            failure->undone = batch.Rollback();
            return failure->error = e;
        }
    }
    if (uint32_t e = batch.Commit()) {
        failure->what = "the registry did not keep the changes";
        failure->undone = true;
        return failure->error = e;
    }
    return 0;
}

} // namespace tavo::tools::regtext
