// `tavocom check`: the conformance checker for component libraries. The
// parent (check_command.cpp) reads the export table and runs the steps that
// load the library in a child process (check_child.cpp), which reports over
// its standard output in the lines below, so that a crash or a hang of the
// library becomes a finding of the step it happened in.
#ifndef TAVOCOM_TOOLS_CHECK_CHECK_H
#define TAVOCOM_TOOLS_CHECK_CHECK_H

#include <tavocom/tavocom.h>

#include <string>
#include <vector>

namespace tavo::tools::check {

/// The hidden first argument that makes `check` the child.
inline constexpr char kChildFlag[] = "--step-child";
/// Protocol lines of the child, tab-separated after the tag.
inline constexpr char kStepTag[] = "@step";       // @step NAME
inline constexpr char kFindingTag[] = "@finding"; // @finding VERDICT RULE SUBJECT TEXT
inline constexpr char kEndTag[] = "@end";         // every step ran to its end

struct Options {
    bool tsv = false;
    unsigned timeoutSeconds = 10;
    std::vector<_COM_GUID> classes;    // --class: checked besides the registered ones
    std::vector<_COM_GUID> interfaces; // --interface: asked of every object
    std::vector<uint32_t> codes;       // --codes: decoded by every decoder
    std::vector<std::string> libraries;
    /// Child only: leave DllRegisterServer alone (it crashed or hung).
    bool registerForUse = true;
};

/// Parses the options of `check` (child or parent); false with `error` set
/// for a bad one.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);
/// The options again as arguments, for the child.
std::vector<std::string> OptionArgs(const Options& options);

/// The child: runs the library's steps from step number `resume` on (the
/// ones before are done silently where later steps need them).
int RunChild(const Options& options, unsigned resume);

} // namespace tavo::tools::check

#endif
