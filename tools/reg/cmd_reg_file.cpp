// tavocom reg export KEY FILE / reg import FILE: registry text files, the
// same on both systems. An import parses the whole file before it writes
// anything, and then writes it in one batch.
#include <cstdio>
#include <string>

#include "tools/command.h"
#include "tools/hive_access.h"
#include "tools/reg/reg_text_store.h"

namespace tavo::tools {
namespace {

int Usage() {
    std::fprintf(stderr, "usage: tavocom reg export KEY FILE [/y]\n"
                         "       tavocom reg import FILE\n"
                         "KEY is HKLM\\path or HKCU\\path; /y overwrites an existing FILE.\n");
    return 2;
}

std::string FromArgument(const std::string& arg) {
    utf::WideString wide = regtext::FromAnsiCodePage(arg.data(), arg.size());
    return utf::Utf16ToUtf8(wide.data(), wide.size());
}

std::string ErrorText(uint32_t error) {
    return "error " + std::to_string(error) + " (status " + StatusText(COM_STATUS_FROM_WIN32(error)) + ")";
}

int Export(const std::string& keyArg, const std::string& file, bool overwrite) {
    if (std::FILE* existing = overwrite ? nullptr : std::fopen(file.c_str(), "rb")) {
        std::fclose(existing);
        std::fprintf(stderr, "reg export: %s exists; add /y to overwrite it\n", file.c_str());
        return 1;
    }
    regtext::Tree tree;
    const std::string key = FromArgument(keyArg);
    regtext::HiveKey where;
    if (!regtext::ParseHiveKey(key, &where)) {
        std::fprintf(stderr, "reg: key must start with HKLM\\ or HKCU\\: %s\n", keyArg.c_str());
        return 2;
    }
    if (uint32_t e = regtext::ReadTree(key, &tree)) {
        std::fprintf(stderr, "reg export: cannot read %s: %s\n", keyArg.c_str(), ErrorText(e).c_str());
        return 1;
    }
    std::string bytes;
    if (!regtext::WriteWithin(tree, regtext::kMaxFileBytes, &bytes)) {
        std::fprintf(stderr, "reg export: the file of %s would be larger than 64 MB, which reg import does not read; "
                             "nothing was written (export its subkeys one at a time)\n",
                     keyArg.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(file.c_str(), "wb");
    bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out && std::fclose(out) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "reg export: cannot write %s\n", file.c_str());
        std::remove(file.c_str());
        return 1;
    }
    std::printf("exported %zu keys to %s\n", tree.size(), file.c_str());
    return 0;
}

bool ReadFile(const std::string& file, std::string* bytes) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "reg import: cannot open %s\n", file.c_str());
        return false;
    }
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0 && bytes->size() <= regtext::kMaxFileBytes)
        bytes->append(buffer, got);
    const bool ok = !std::ferror(in) && bytes->size() <= regtext::kMaxFileBytes;
    std::fclose(in);
    if (!ok) std::fprintf(stderr, "reg import: cannot read %s (or it is larger than 64 MB)\n", file.c_str());
    return ok;
}

int Import(const std::string& file) {
    std::string bytes;
    if (!ReadFile(file, &bytes)) return 1;
    regtext::Tree tree;
    regtext::ParseError error;
    if (!regtext::Parse(bytes, &tree, &error, &regtext::FromAnsiCodePage)) {
        std::fprintf(stderr, "%s:%zu: %s\nreg import: nothing was written\n", file.c_str(), error.line,
                     error.what.c_str());
        return 1;
    }
    regtext::ApplyFailure failure;
    if (uint32_t e = regtext::Apply(tree, &failure)) {
        std::string where = file + (failure.line ? ":" + std::to_string(failure.line) : std::string());
        std::fprintf(stderr, "%s: %s: %s\n", where.c_str(), failure.what.empty() ? "cannot write this key" : failure.what.c_str(),
                     ErrorText(e).c_str());
        regtext::HiveKey first;
        if (!tree.empty() && regtext::ParseHiveKey(tree.front().path, &first))
            ExplainHiveWrite(first.hive, e == plat::kErrorAccessDenied);
        if (failure.undone || failure.line == 0 || !failure.what.empty())
            std::fprintf(stderr, "reg import: nothing was written\n");
        else
            std::fprintf(stderr, "reg import: the keys before line %zu stay written (no transactions here)\n",
                         failure.line);
        return 1;
    }
    std::printf("imported %zu keys from %s\n", tree.size(), file.c_str());
    return 0;
}

} // namespace

int RegFile(const Args& args) {
    if (args.size() >= 3 && args[0] == "export") {
        bool overwrite = args.size() == 4 && (args[3] == "/y" || args[3] == "/Y");
        if (args.size() > 4 || (args.size() == 4 && !overwrite)) return Usage();
        return Export(args[1], args[2], overwrite);
    }
    if (args.size() == 2 && args[0] == "import") return Import(args[1]);
    return Usage();
}

} // namespace tavo::tools
