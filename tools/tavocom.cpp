// tavocom: the command-line tool of TAVOCOM64.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/utf.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

std::map<std::string, Command>& Commands() {
    static std::map<std::string, Command> commands;
    return commands;
}

void PrintHelp() {
    std::printf("usage: tavocom COMMAND [ARGS...]\n\n"
                "Command-line tool of TAVOCOM64, the in-process component object runtime.\n\n"
                "commands:\n");
    for (const auto& [name, c] : Commands()) {
        std::string head = name + (c.usage[0] ? std::string(" ") + c.usage : std::string());
        std::printf("  %-34s %s\n", head.c_str(), c.summary);
    }
    std::printf("  %-34s %s\n", "help COMMAND", "show the usage of one command, with an example");
    std::printf("  %-34s %s\n", "--help", "show this list");
}

// `tavocom help NAME`: the usage of one command, with its example.
int PrintCommandHelp(const std::string& name) {
    auto it = Commands().find(name);
    if (it == Commands().end()) {
        std::fprintf(stderr, "tavocom: no command '%s' (tavocom --help lists them)\n", name.c_str());
        return 2;
    }
    const Command& c = it->second;
    std::printf("usage: tavocom %s%s%s\n\n%s\n", c.name, c.usage[0] ? " " : "", c.usage, c.summary);
    if (c.example) std::printf("\nexample:\n  %s\n", c.example);
    return 0;
}

std::multimap<int, DemoStep>& DemoStepMap() {
    static std::multimap<int, DemoStep> steps;
    return steps;
}

} // namespace

void RegisterCommand(const Command& command) { Commands()[command.name] = command; }

DemoStepRegistrar::DemoStepRegistrar(int order, DemoStep step) { DemoStepMap().emplace(order, step); }

std::vector<DemoStep> DemoSteps() {
    std::vector<DemoStep> steps;
    for (const auto& entry : DemoStepMap()) steps.push_back(entry.second);
    return steps;
}

std::basic_string<COM_WCHAR> Widen(const std::string& utf8) { return utf::Utf8ToUtf16(utf8.data(), utf8.size()); }

std::string Narrow(const COM_WCHAR* text, size_t length) { return utf::Utf16ToUtf8(text, length); }

std::string NarrowZ(const COM_WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return Narrow(text, n);
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
    std::string decoded = NarrowZ(text.Get());
    // System texts end in a line break.
    while (!decoded.empty() && (decoded.back() == '\n' || decoded.back() == '\r')) decoded.pop_back();
    return decoded;
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
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        PrintHelp();
        return argc < 2 ? 2 : 0;
    }
    auto it = Commands().find(argv[1]);
    if (it == Commands().end()) {
        std::fprintf(stderr, "tavocom: unknown command '%s' (see tavocom --help)\n", argv[1]);
        return 2;
    }
    Args args(argv + 2, argv + argc);
    try {
        return it->second.run(args);
    } catch (const utlAutoIfBase::XBadPtrException&) {
        std::fprintf(stderr, "tavocom: a call reported success but delivered no interface\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavocom: %s\n", e.what());
        return 1;
    }
}
