// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/process.h"
#include "support/registry_sandbox.h"
#include "support/system_messages.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavo::test {

DynamicLibrary::DynamicLibrary(const std::string& path) {
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return dlsym(m_handle, name);
}

void DynamicLibrary::Unload() {
    if (!m_handle) return;
    dlclose(m_handle);
    m_handle = nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

void SetEnv(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool HasHiveFiles() { return true; }

int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDirectory) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (chdir(workingDirectory.c_str()) == 0) execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string ProgramFile(const std::string& name) { return name; }

size_t ResidentBytes() {
    FILE* f = fopen("/proc/self/statm", "re");
    if (!f) return 0;
    unsigned long pages = 0, resident = 0;
    int got = fscanf(f, "%lu %lu", &pages, &resident);
    fclose(f);
    return got == 2 ? size_t(resident) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace tavo::test

namespace tavo::test {

// No system message table here: nothing to compare the texts with.
bool HasMessageOracle() { return false; }
bool SystemMessageW(uint32_t, std::basic_string<COM_WCHAR>*) { return false; }

} // namespace tavo::test

namespace tavo::test {

int RunPlatformProgram(const std::string&, std::string*) { return -1; }

std::vector<int> RunSelfConcurrently(const std::string& filter, int count) {
    std::string filterArg = "--gtest_filter=" + filter;
    // The program's own file as the kernel (or a tool running it, such as
    // valgrind) reports it: executing /proc/self/exe itself would start
    // such a tool's own binary.
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = 0;
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TAVOCOM_TEST_CHILD", "1", 1);
            char* argv[] = {const_cast<char*>("self"), filterArg.data(), const_cast<char*>("--gtest_brief=1"), nullptr};
            execv(self, argv);
            _exit(127);
        }
        if (pid > 0) children.push_back(pid);
    }
    std::vector<int> codes;
    for (pid_t pid : children) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) status = -1;
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    if (int(children.size()) != count) codes.clear();
    return codes;
}

} // namespace tavo::test

namespace tavo::test {

int RunProgramOutput(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory, std::string* output) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(workingDirectory.c_str()) == 0) execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) != 0;)
        if (n > 0) text.append(buffer, size_t(n));
        else if (errno != EINTR) break;
    close(pipeEnds[0]);
    if (output) *output = text;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool RunWithStack(size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_t thread;
    pthread_attr_init(&attributes);
    bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                   pthread_create(&thread, &attributes, [](void* w) -> void* {
                       (*static_cast<const std::function<void()>*>(w))();
                       return nullptr;
                   }, const_cast<std::function<void()>*>(&work)) == 0;
    pthread_attr_destroy(&attributes);
    return started && pthread_join(thread, nullptr) == 0;
}

} // namespace tavo::test
