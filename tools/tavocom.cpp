// tavocom: the command-line tool of TAVOCOM64.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/utf.h"
#include "tools/command.h"
#include "tools/hive_access.h"

namespace tavo::tools {
namespace {

// Every command of the tool, in the order --help lists them.
const Command kCommands[] = {
    {"categories", "[CATEGORY]", "list the component categories with their descriptions and classes", Categories,
     "tavocom categories \"{2C5E8A11-7F43-4B9D-A60E-519C3D72E408}\""},
    {"check", "[--tsv] [--class CLSID]... [--interface IID]... [--codes CODE,...] LIBRARY...",
     "check that component libraries follow the rules the runtime relies on", Check,
     "tavocom check greeter" TAVOCOM_MODULE_SUFFIX},
    {"classes", "", "list the classes registered under the class root", Classes, "tavocom classes"},
    {"create", "[--trace] CLASS [INTERFACE]",
     "activate a class (identifier or ProgID) and print the outcome; --trace shows every step", Create,
     "tavocom create --trace TavoSample.Greeter"},
    {"decode", "CODE...", "decode status codes (hexadecimal, decimal or negative decimal) and name the text's source",
     Decode, "tavocom decode 0x80070005 -2147024891"},
    {"demo", "", "walk through what the runtime does", Demo, "tavocom demo"},
    {"doctor", "[--tsv]", "check every registered class, ProgID, moniker and category entry; --tsv for scripts",
     DoctorCommand, "tavocom doctor --tsv > problems.tsv"},
    {"exports", "[LIBRARY]", "list the names a library file exports", Exports,
     "tavocom exports greeter" TAVOCOM_MODULE_SUFFIX},
    {"guid-new", "[--cpp] [COUNT]", "generate new identifiers; --cpp as C++ initializers", GuidNew,
     "tavocom guid-new --cpp"},
    {"guid-parse", "TEXT", "parse an identifier text and show its fields", GuidParse,
     "tavocom guid-parse \"{00000000-0000-0000-C000-000000000046}\""},
    {"memory", "TYPE COUNT SIZE [ARENA_SIZE]",
     "allocate COUNT blocks through strategy TYPE (1-4), free every other one, show the figures", Memory,
     "tavocom memory 4 1000 40"},
    {"reg", "query|add|delete KEY [options] [/f] | export KEY FILE [/y] | import FILE",
     "show and edit registry keys (HKLM\\..., HKCU\\...), export and import registry files", Reg,
     "tavocom reg add \"HKCU\\Software\\Quorvalltech\\Demo\" /v Answer /t REG_DWORD /d 42 /f\n"
     "  tavocom reg export \"HKCU\\Software\\Quorvalltech\" backup.reg"},
    {"register", "[/u | -u | --unregister] [/s] (--runtime | LIBRARY...)",
     "register (or remove) the classes of component libraries, or of the runtime itself (--runtime)", Register,
     "tavocom register greeter" TAVOCOM_MODULE_SUFFIX "\n  tavocom register --unregister --runtime"},
    {"version", "", "print the library's version and file", Version, "tavocom version"},
};

const Command* Find(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

// Edits (insertions, deletions, substitutions) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The command a mistyped name most likely meant: the nearest within one
// edit for short names, two or a third of the length for longer ones, or
// one that the name begins.
const char* Suggest(const std::string& name) {
    const char* best = nullptr;
    size_t bestDistance = (name.size() < 4 ? 1 : std::max<size_t>(2, name.size() / 3)) + 1;
    auto consider = [&](const char* candidate) {
        size_t d = EditDistance(name, candidate);
        if (name.size() >= 3 && std::string(candidate).compare(0, name.size(), name) == 0) d = 1;
        if (d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    };
    for (const Command& c : kCommands) consider(c.name);
    consider("help");
    return best;
}

void ReportUnknown(const char* what, const std::string& name, const char* then) {
    const char* near = Suggest(name);
    std::fprintf(stderr, "tavocom: %s '%s'%s%s%s (%s)\n", what, name.c_str(), near ? "; did you mean '" : "",
                 near ? near : "", near ? "'?" : "", then);
}

bool IsHelpWord(const std::string& a) { return a == "--help" || a == "-h" || a == "/?" || a == "-?"; }

void PrintHelp() {
    std::printf("usage: tavocom COMMAND [ARGS...]\n\n"
                "Command-line tool of TAVOCOM64, the in-process component object runtime.\n\n"
                "commands:\n");
    for (const Command& c : kCommands) {
        std::string head = c.name + (c.usage[0] ? std::string(" ") + c.usage : std::string());
        std::printf("  %-34s %s\n", head.c_str(), c.summary);
    }
    std::printf("  %-34s %s\n", "help COMMAND", "show the usage of one command, with an example");
    std::printf("  %-34s %s\n", "--help", "show this list");
}

// `tavocom help NAME`: the usage of one command, with its example.
int PrintCommandHelp(const std::string& name) {
    const Command* c = Find(name);
    if (!c) {
        ReportUnknown("no command", name, "tavocom --help lists them");
        return 2;
    }
    std::printf("usage: tavocom %s%s%s\n\n%s\n", c->name, c->usage[0] ? " " : "", c->usage, c->summary);
    if (c->example) std::printf("\nexample:\n  %s\n", c->example);
    return 0;
}

} // namespace

std::basic_string<COM_WCHAR> Widen(const std::string& utf8) { return utf::Utf8ToUtf16(utf8.data(), utf8.size()); }

std::string Narrow(const COM_WCHAR* text, size_t length) { return utf::Utf16ToUtf8(text, length); }

std::string NarrowZ(const COM_WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return Narrow(text, n);
}

std::vector<std::basic_string<COM_WCHAR>> AllNames(COM_IEnumBSTR* items) {
    std::vector<std::basic_string<COM_WCHAR>> names;
    for (;;) {
        COM_BSTR name = nullptr;
        uint32_t fetched = 0;
        if (items->Next(1, &name, &fetched) != S_OK || fetched != 1) break;
        utlAutoBstr owned(name);
        names.emplace_back(name ? name : COM_TEXT(""));
    }
    return names;
}

std::string NarrowLine(const COM_WCHAR* text) {
    std::string line = NarrowZ(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string Hex32(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", value);
    return buf;
}

std::string DecodedText(COM_HRESULT status) {
    utlAutoBstr text;
    COM_HRESULT hr = COM_DecodeHRESULT(status, nullptr, text.Put());
    if (COM_FAILED(hr) || !text.Get()) return std::string();
    return NarrowLine(text.Get());
}

std::string StatusText(COM_HRESULT status) {
    std::string text = Hex32(uint32_t(status));
    if (COM_SUCCEEDED(status)) return text;
    std::string decoded = DecodedText(status);
    return decoded.empty() ? text : text + " (" + decoded + ")";
}

std::string GuidText(const _COM_GUID& id) {
    utlAutoBstr text;
    if (COM_FAILED(COM_CLSIDToString(id, text.Put()))) return "?";
    return Narrow(text.Get());
}

bool ParseGuid(const std::string& text, _COM_GUID* id) {
    return COM_StringToCLSID(Widen(text).c_str(), id) == S_OK && text.size() == 38;
}

void PrintErrorRecord() {
    utlAutoIf<COM_IErrorInfo> record;
    if (COM_GetErrorInfo(record.Put()) != S_OK) return;
    utlAutoBstr description, source;
    record->GetDescription(description.Put());
    record->GetSource(source.Put());
    std::printf("error record: description \"%s\", source \"%s\"\n", Narrow(description.Get()).c_str(),
                Narrow(source.Get()).c_str());
}

} // namespace tavo::tools

int main(int argc, char** argv) {
    using namespace tavo::tools;
    if (argc >= 3 && !std::strcmp(argv[1], "help")) {
        if (argc == 3) return PrintCommandHelp(argv[2]);
        std::fprintf(stderr, "usage: tavocom help COMMAND\n");
        return 2;
    }
    if (argc < 2 || IsHelpWord(argv[1]) || !std::strcmp(argv[1], "help")) {
        PrintHelp();
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) return Version(Args());
    const Command* command = Find(argv[1]);
    if (!command) {
        ReportUnknown("unknown command", argv[1], "see tavocom --help");
        return 2;
    }
    Args args(argv + 2, argv + argc);
    // A help word first, or after reg's operation, shows the command's usage
    // instead of being taken for a file, a class or a key.
    if ((!args.empty() && IsHelpWord(args[0])) || (args.size() > 1 && command->run == Reg && IsHelpWord(args[1])))
        return PrintCommandHelp(command->name);
    try {
        const int status = command->run(args);
        if (status != 0) ExplainDamagedHives();
        return status;
    } catch (const utlAutoIfBase::XBadPtrException&) {
        std::fprintf(stderr, "tavocom: a call reported success but delivered no interface\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavocom: %s\n", e.what());
        return 1;
    }
}
