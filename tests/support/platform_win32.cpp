// The platform side of the test support: loading libraries and the
// process environment. CMake picks this file or its twin.
#include "support/dynamic_library.h"
#include "support/process.h"
#include "support/registry_sandbox.h"
#include "support/system_messages.h"

#include <stdlib.h>
#include <windows.h>

#include <psapi.h>

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
