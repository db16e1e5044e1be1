// Commands of the tavocom tool: the run function of each, listed in the
// command table of tavocom.cpp, and the text helpers they share.
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
    const char* example;
};

// The commands, each returning the tool's exit status.
int Categories(const Args& args);    // cmd_categories.cpp
int Check(const Args& args);         // check/check_command.cpp
int Classes(const Args& args);       // cmd_activation.cpp
int Create(const Args& args);        // cmd_activation.cpp
int Decode(const Args& args);        // cmd_decode.cpp
int Demo(const Args& args);          // demo.cpp
int DoctorCommand(const Args& args); // cmd_doctor.cpp
int Exports(const Args& args);       // cmd_basic.cpp
int GuidNew(const Args& args);       // cmd_basic.cpp
int GuidParse(const Args& args);     // cmd_basic.cpp
int Memory(const Args& args);        // cmd_memory.cpp
int Reg(const Args& args);           // reg/cmd_reg.cpp
int Register(const Args& args);      // cmd_register.cpp
int Version(const Args& args);       // cmd_basic.cpp

/// `reg export` and `reg import` (reg/cmd_reg_file.cpp).
int RegFile(const Args& args);
/// Allocates `count` blocks of `size` through strategy `type`, frees every
/// other one and prints the figures (cmd_memory.cpp; the demo runs it too).
int RunMemory(uint32_t type, uint64_t count, uint64_t size, uint64_t arenaSize);

/// Text helpers shared by the commands.
std::basic_string<COM_WCHAR> Widen(const std::string& utf8);
std::string Narrow(const COM_WCHAR* text, size_t length);
/// A string up to its first zero (or its recorded length, if shorter).
std::string NarrowZ(const COM_WCHAR* text);
inline std::string Narrow(COM_BSTR text) { return NarrowZ(text); }
/// NarrowZ without the line breaks that end system texts.
std::string NarrowLine(const COM_WCHAR* text);
/// Every name an enumerator hands out from its position on, in order; a
/// name it could not give (null) as an empty one.
std::vector<std::basic_string<COM_WCHAR>> AllNames(COM_IEnumBSTR* items);
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
