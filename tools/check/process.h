// Running this program again as a child, so that a component that crashes
// or hangs takes down the child and not the tool. One implementation per
// platform (process_posix.cpp, process_win32.cpp), chosen by CMake.
#ifndef TAVOCOM_TOOLS_CHECK_PROCESS_H
#define TAVOCOM_TOOLS_CHECK_PROCESS_H

#include <string>
#include <vector>

namespace tavo::tools::check {

struct ChildRun {
    bool started = false;
    bool timedOut = false; // killed after the timeout
    long long exitCode = -1; // the exit status or exception code; minus the signal that ended it
    std::string output;    // standard output and error together
};

/// Runs this program with `args` (without the program name); the child
/// inherits this process's environment. It is killed when it writes
/// nothing for `timeoutSeconds`: the checking child writes a line per step.
ChildRun RunSelf(const std::vector<std::string>& args, unsigned timeoutSeconds);

/// Sets a variable of this process's environment, as children inherit it.
void SetVariable(const char* name, const std::string& value);

/// In the child: a crash ends the process at once, with no dialog or
/// debugger waiting for someone.
void PrepareChildProcess();

} // namespace tavo::tools::check

#endif
