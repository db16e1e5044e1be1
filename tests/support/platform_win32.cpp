// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/process.h"
#include "support/registry_sandbox.h"
#include "support/system_messages.h"

#include <stdlib.h>
#include <windows.h>

#include <psapi.h>

#include <string>

namespace tavo::test {
namespace {

std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// One argument of a command line, quoted as the C runtime splits it again.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

} // namespace

// Wide paths: a library may lie deeper than the narrow calls reach.
DynamicLibrary::DynamicLibrary(const std::string& path) {
    m_handle = LoadLibraryW(Wide(NativePath(path)).c_str());
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

void DynamicLibrary::Unload() {
    if (!m_handle) return;
    FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
    return GetModuleHandleW(Wide(NativePath(path)).c_str()) != nullptr;
}

void SetEnv(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }

// The platform registry needs no hive files.
bool HasHiveFiles() { return false; }

int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDirectory) {
    std::wstring application = Wide(NativePath(program));
    std::wstring line = Quoted(application);
    for (const std::string& a : args) line += L" " + Quoted(Wide(a));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        Wide(NativePath(workingDirectory)).c_str(), &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

std::string ProgramFile(const std::string& name) { return name + ".exe"; }

size_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

} // namespace tavo::test

namespace tavo::test {

bool HasMessageOracle() { return true; }

bool SystemMessageW(uint32_t code, std::basic_string<COM_WCHAR>* text) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n != 0 && buffer) text->assign(buffer, n);
    if (buffer) LocalFree(buffer);
    return n != 0;
}

} // namespace tavo::test

namespace tavo::test {
namespace {

std::wstring WideText(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), int(wide.size()));
    wide.resize(n > 0 ? size_t(n - 1) : 0);
    return wide;
}

// Starts `commandLine` (with `application`, that program, in `directory`
// if given); with `output`, its standard output and error go there.
HANDLE Start(const std::wstring& commandLine, HANDLE output, const wchar_t* application = nullptr,
             const wchar_t* directory = nullptr) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(application, line.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, directory,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int Finish(HANDLE process) {
    DWORD code = DWORD(-1);
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return int(code);
}

// The output goes to a file rather than a pipe: a service the program
// starts may inherit the handle and outlive it, and a pipe would then never
// report its end.
int RunToFile(const std::wstring& line, std::string* output, const wchar_t* application = nullptr,
              const wchar_t* directory = nullptr) {
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"tvc", 0, file)) return -1;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE sink = CreateFileW(file, GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (sink == INVALID_HANDLE_VALUE) return -1;
    HANDLE process = Start(line, sink, application, directory);
    CloseHandle(sink);
    int code = process ? Finish(process) : -1;
    std::string text;
    HANDLE source = CreateFileW(file, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(source, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
        CloseHandle(source);
    }
    DeleteFileW(file);
    if (output) *output = text;
    return code;
}

} // namespace

int RunPlatformProgram(const std::string& commandLine, std::string* output) {
    return RunToFile(WideText(commandLine), output);
}

std::vector<int> RunSelfConcurrently(const std::string& filter, int count) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_filter=" + WideText(filter) + L" --gtest_brief=1";
    SetEnvironmentVariableA("TAVOCOM_TEST_CHILD", "1");
    std::vector<HANDLE> children;
    for (int i = 0; i < count; ++i)
        if (HANDLE child = Start(line, nullptr)) children.push_back(child);
    SetEnvironmentVariableA("TAVOCOM_TEST_CHILD", nullptr);
    std::vector<int> codes;
    for (HANDLE child : children) codes.push_back(Finish(child));
    if (int(children.size()) != count) codes.clear();
    return codes;
}

int RunProgramOutput(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory, std::string* output) {
    const std::wstring application = Wide(NativePath(program));
    std::wstring line = Quoted(application);
    for (const std::string& a : args) line += L" " + Quoted(Wide(a));
    return RunToFile(line, output, application.c_str(), Wide(NativePath(workingDirectory)).c_str());
}

bool RunWithStack(size_t stackBytes, const std::function<void()>& work) {
    HANDLE thread = CreateThread(nullptr, stackBytes, [](void* w) -> DWORD {
        (*static_cast<const std::function<void()>*>(w))();
        return 0;
    }, const_cast<std::function<void()>*>(&work), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return false;
    const bool joined = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return joined;
}

} // namespace tavo::test
