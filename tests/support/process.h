// Processes: running another program from a test, as a product's host or
// installer would run it, and this process's own memory.
#ifndef TAVOCOM_TESTS_PROCESS_H
#define TAVOCOM_TESTS_PROCESS_H

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace tavo::test {

/// Runs `program` (a full path) with `args` in `workingDirectory`, with
/// this process's environment, and waits for it. Returns its exit status,
/// or -1 when it could not be started or did not exit normally.
int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDirectory);

/// Bytes of this process's memory that are resident now; 0 where the
/// platform does not tell.
size_t ResidentBytes();

/// Runs one of the platform's own programs (a command line such as
/// "regsvr32.exe /s X.dll") and waits for it: its exit code, with what it
/// wrote to its standard output in `output` (may be null). -1 where the
/// platform has no such programs to compare with (Linux).
int RunPlatformProgram(const std::string& commandLine, std::string* output);

/// Starts `count` copies of this test program at once, each running only
/// the tests that `filter` selects, with TAVOCOM_TEST_CHILD set in their
/// environment, and waits for all: their exit codes, empty when they could
/// not be started.
std::vector<int> RunSelfConcurrently(const std::string& filter, int count);

/// Whether this process is one of those copies.
inline bool IsTestChild() { return std::getenv("TAVOCOM_TEST_CHILD") != nullptr; }

/// The file name of a test program of this build (".exe" where the
/// platform needs it).
std::string ProgramFile(const std::string& name);

/// As RunProgram, with what the program wrote to its standard output and
/// standard error in `output`.
int RunProgramOutput(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory, std::string* output);

/// Runs `work` on a new thread whose stack is `stackBytes` and waits for
/// it; false when no such thread could be made.
bool RunWithStack(size_t stackBytes, const std::function<void()>& work);

} // namespace tavo::test

#endif
