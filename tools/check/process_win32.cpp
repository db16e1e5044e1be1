#include "tools/check/process.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavo::tools::check {
namespace {

std::wstring WideArg(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), int(wide.size()));
    wide.resize(n > 0 ? size_t(n - 1) : 0);
    return wide;
}

// One argument quoted as the C runtime splits a command line.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
    if (!line->empty()) line->push_back(L' ');
    line->push_back(L'"');
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else {
            line->append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
            slashes = 0;
        }
        if (c != L'\\') line->push_back(c);
    }
    line->append(slashes * 2, L'\\');
    line->push_back(L'"');
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

ChildRun RunSelf(const std::vector<std::string>& args, unsigned timeoutSeconds) {
    ChildRun run;
    wchar_t self[32768];
    const DWORD n = GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
    if (n == 0 || n >= std::size(self)) return run;
    wchar_t dir[MAX_PATH + 1], file[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, dir) || !GetTempFileNameW(dir, L"tck", 0, file)) return run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    std::wstring line;
    AppendQuoted(&line, self);
    for (const std::string& a : args) AppendQuoted(&line, WideArg(a));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    std::fflush(stdout);
    std::fflush(stderr);
    if (CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        run.started = true;
        ULONGLONG deadline = GetTickCount64() + timeoutSeconds * 1000ull;
        LONGLONG written = 0;
        while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
            LARGE_INTEGER now{};
            if (GetFileSizeEx(out, &now) && now.QuadPart > written) {
                written = now.QuadPart;
                deadline = GetTickCount64() + timeoutSeconds * 1000ull;
            }
            if (GetTickCount64() >= deadline) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, INFINITE);
                run.timedOut = true;
                break;
            }
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.exitCode = static_cast<long long>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(out, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 26)) {
        run.output.resize(size_t(size.QuadPart));
        SetFilePointer(out, 0, nullptr, FILE_BEGIN);
        DWORD got = 0;
        ReadFile(out, run.output.data(), DWORD(run.output.size()), &got, nullptr);
        run.output.resize(got);
    }
    CloseHandle(out);
    DeleteFileW(file);
    return run;
}

void SetVariable(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
}

void PrepareChildProcess() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
}

} // namespace tavo::tools::check
