// The few kernel32 calls the MSVC-ABI test programs make, declared here:
// Wine's <windows.h> collides with clang's builtins in this mode.
#ifndef TAVOCOM_TESTS_MSVC_KERNEL32_H
#define TAVOCOM_TESTS_MSVC_KERNEL32_H

#include <stddef.h>

extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, unsigned long flags, size_t size);
__declspec(dllimport) int __stdcall HeapFree(void* heap, unsigned long flags, void* block);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size, unsigned long* written,
                                             void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void* __stdcall GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall SetEnvironmentVariableA(const char* name, const char* value);
}

#endif
