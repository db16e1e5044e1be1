// Commands on identifiers and on the library itself.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <tavocom/library_entry.h>

#include "tools/command.h"
#include "tools/export_table.h"

namespace tavo::tools {
namespace {

// Enough for any script; a larger count is more likely a mistyped one.
constexpr unsigned long kMaxNewGuids = 100000;

} // namespace

// `guid-new [--cpp] [COUNT]`: COUNT identifiers in their braced text form,
// or with --cpp as initializers for a `_COM_GUID` constant.
int GuidNew(const Args& args) {
    bool cpp = false;
    std::string countText = "1";
    int given = 0;
    for (const std::string& a : args) {
        if (a == "--cpp")
            cpp = true;
        else if (++given == 1)
            countText = a;
    }
    char* end = nullptr;
    const unsigned long count = std::strtoul(countText.c_str(), &end, 10);
    if (given > 1 || countText.empty() || *end || !std::isdigit(static_cast<unsigned char>(countText[0])) ||
        count < 1 || count > kMaxNewGuids) {
        std::fprintf(stderr, "guid-new: COUNT must be a number from 1 to %lu: %s\n", kMaxNewGuids,
                     given > 1 ? "more than one given" : countText.c_str());
        return 2;
    }
    for (unsigned long i = 0; i < count; ++i) {
        _COM_GUID id{};
        COM_HRESULT hr = COM_GenerateCLSID(&id);
        if (COM_FAILED(hr)) {
            std::fprintf(stderr, "guid-new: failed with %s\n", StatusText(hr).c_str());
            return 1;
        }
        if (!cpp) {
            std::printf("%s\n", GuidText(id).c_str());
            continue;
        }
        std::printf("{0x%08X, 0x%04X, 0x%04X, {", id.Data1, id.Data2, id.Data3);
        for (int b = 0; b < 8; ++b) std::printf("%s0x%02X", b ? ", " : "", id.Data4[b]);
        std::printf("}} // %s\n", GuidText(id).c_str());
    }
    return 0;
}

// Shows how an identifier text is parsed: its fields and its canonical form.
int GuidParse(const Args& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "guid-parse: expects one identifier text\n");
        return 2;
    }
    _COM_GUID id{};
    COM_HRESULT hr = COM_StringToCLSID(Widen(args[0]).c_str(), &id);
    if (COM_FAILED(hr)) {
        std::printf("not an identifier: status %s\n", StatusText(hr).c_str());
        return 1;
    }
    std::printf("canonical  %s\n", GuidText(id).c_str());
    std::printf("fields     %08X %04X %04X", id.Data1, id.Data2, id.Data3);
    for (uint8_t b : id.Data4) std::printf(" %02X", b);
    std::printf("\nbytes     ");
    const auto* bytes = reinterpret_cast<const uint8_t*>(&id);
    for (int i = 0; i < 16; ++i) std::printf(" %02X", bytes[i]);
    std::printf("\n");
    return 0;
}

int Version(const Args&) {
    std::printf("TAVOCOM64 %s (%s)\n", TAVOCOM_VERSION_TEXT, TAVOCOM_LIBRARY_FILE);
    std::printf("CanUnloadNow: %s\n", CanUnloadNow() == S_OK ? "S_OK (no objects alive)" : "S_FALSE");
    return 0;
}

int Exports(const Args& args) {
    if (args.size() > 1) {
        std::fprintf(stderr, "exports: expects at most one library file\n");
        return 2;
    }
    std::string path = args.empty() ? std::string(TAVOCOM_LIBRARY_FILE) : args[0];
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        std::fprintf(stderr, "exports: %s is a directory, not a library file\n", path.c_str());
        return 1;
    }
    std::vector<std::string> names = ReadExportNames(path);
    for (const std::string& n : names) std::printf("%s\n", n.c_str());
    std::printf("%zu exports in %s\n", names.size(), path.c_str());
    return 0;
}

} // namespace tavo::tools
