// A client program compiled for the MSVC ABI: it registers the MSVC-ABI
// component under the class root, activates it through TAVOCOM64.dll, calls
// methods that take and return strings and identifiers, decodes a status,
// releases the object and asks the component whether it may unload. Exit
// status 0 when every step answered as expected; each step is printed.
#include <tavocom/exports.h>
#include <tavocom/identifiers.h>

#include "kernel32.h"
#include "probe.h"

namespace {

void Print(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    unsigned long written = 0;
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, static_cast<unsigned long>(n), &written, nullptr);
}

int g_failures = 0;

void Step(const char* what, bool passed) {
    Print(passed ? "  ok      " : "  FAILED  ");
    Print(what);
    Print("\n");
    if (!passed) ++g_failures;
}

bool Same(const COM_WCHAR* a, const COM_WCHAR* b) {
    if (!a || !b) return false;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool Register() {
    COM_IRegistry* registry = nullptr;
    if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, reinterpret_cast<void**>(&registry)) != S_OK)
        return false;
    COM_BSTR text = nullptr;
    bool done = COM_CLSIDToString(CLSID_MsvcProbe, &text) == S_OK && registry->Open(COM_REGROOT_CLASSES, nullptr) == S_OK &&
                registry->CreateKey(COM_TEXT("CLSID"), 1) == S_OK && registry->CreateKey(text, 1) == S_OK &&
                registry->CreateKey(COM_TEXT("InprocServer32"), 1) == S_OK &&
                registry->SetStringValue(COM_TEXT(""), COM_TEXT("msvc_probe.dll")) == S_OK;
    COM_SysFreeString(text);
    registry->Release();
    return done;
}

int Run() {
    Step("class registered through the registry service", Register());

    IMsvcProbe* probe = nullptr;
    Step("COM_CreateInstance of the MSVC-ABI component",
         COM_CreateInstance(CLSID_MsvcProbe, 0, IID_IMsvcProbe, reinterpret_cast<void**>(&probe)) == S_OK && probe);
    if (!probe) return 1;

    COM_BSTR echoed = nullptr;
    Step("a string in and a new string out",
         probe->Echo(COM_TEXT("msvc"), &echoed) == S_OK && Same(echoed, COM_TEXT("echo: msvc")) &&
             COM_SysStringLen(echoed) == 10);
    COM_SysFreeString(echoed);

    _COM_GUID next{};
    _COM_GUID expected = CLSID_MsvcProbe;
    ++expected.Data1;
    Step("an identifier in and out", probe->NextId(CLSID_MsvcProbe, &next) == S_OK && next == expected);

    auto canUnloadNow =
        reinterpret_cast<COM_HRESULT (*)()>(GetProcAddress(GetModuleHandleW(L"msvc_probe.dll"), "CanUnloadNow"));
    Step("CanUnloadNow answers S_FALSE while the object lives", canUnloadNow && canUnloadNow() == S_FALSE);

    COM_BSTR text = nullptr;
    const COM_HRESULT decoded = COM_DecodeHRESULT(CO_E_DLLNOTFOUND, nullptr, &text);
    Step("a decoded status", (decoded == S_OK || decoded == S_FALSE) && text && COM_SysStringLen(text) > 0);
    COM_SysFreeString(text);

    Step("the last Release frees the object", probe->Release() == 0);
    Step("CanUnloadNow answers S_OK after the last release", canUnloadNow && canUnloadNow() == S_OK);
    Print(g_failures ? "msvc client: FAILED\n" : "msvc client: ok\n");
    return g_failures ? 1 : 0;
}

} // namespace

extern "C" void ClientMain() { ExitProcess(static_cast<unsigned int>(Run())); }
