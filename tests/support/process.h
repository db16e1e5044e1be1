// Processes: running another program from a test, as a product's host or
// installer would run it, and this process's own memory.
#ifndef TAVOCOM_TESTS_PROCESS_H
#define TAVOCOM_TESTS_PROCESS_H

#include <cstddef>
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

/// The file name of a test program of this build (".exe" where the
/// platform needs it).
std::string ProgramFile(const std::string& name);

} // namespace tavo::test

#endif
