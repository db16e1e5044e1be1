// Commands of the tavocom tool. Each command file registers its commands
// with a static CommandRegistrar.
#ifndef TAVOCOM_TOOLS_COMMAND_H
#define TAVOCOM_TOOLS_COMMAND_H

#include <tavocom/tavocom.h>

#include <string>
#include <vector>

namespace tavo::tools {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;   // arguments, for --help
    const char* summary; // one line, for --help
    int (*run)(const Args& args);
    /// A whole command line that works as shown, for `tavocom help NAME`
    /// (null: the help shows the usage alone).
    const char* example = nullptr;
};

void RegisterCommand(const Command& command);

struct CommandRegistrar {
    explicit CommandRegistrar(const Command& command) { RegisterCommand(command); }
};

/// Sections of the demo that the subsystems' command files add, run in
/// the order of their keys.
using DemoStep = void (*)();
std::vector<DemoStep> DemoSteps();
struct DemoStepRegistrar {
    DemoStepRegistrar(int order, DemoStep step);
};

/// Text helpers shared by the commands.
std::basic_string<COM_WCHAR> Widen(const std::string& utf8);
std::string Narrow(const COM_WCHAR* text, size_t length);
/// A string up to its first zero (or its recorded length, if shorter).
std::string NarrowZ(const COM_WCHAR* text);
inline std::string Narrow(COM_BSTR text) { return NarrowZ(text); }
std::string Hex32(uint32_t value);
/// The text COM_DecodeHRESULT gives for a status, line breaks trimmed;
/// empty when it gives none.
std::string DecodedText(COM_HRESULT status);
/// A status in hexadecimal, with its decoded text when it is a failure.
std::string StatusText(COM_HRESULT status);
std::string GuidText(const _COM_GUID& id);
/// Parses an identifier in its braced text form; false if it is none.
bool ParseGuid(const std::string& text, _COM_GUID* id);
/// Prints the current error record, if one is set.
void PrintErrorRecord();

} // namespace tavo::tools

#endif
