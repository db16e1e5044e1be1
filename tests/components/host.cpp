// A host program of the product: it loads the runtime from the path it is
// given, as the product's own programs do, and activates one class through
// it. Usage: host LIBRARY CLSID EXPECTED-STATUS (hexadecimal). Exit
// status 0 when activation gave the expected status, 1 when it gave another
// (printed), 2 for a runtime that cannot be loaded or used.
#include <tavocom/tavocom.h>

#include <cstdio>
#include <string>

#include "support/dynamic_library.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    tavo::test::DynamicLibrary runtime(argv[1]);
    auto parse = reinterpret_cast<decltype(&COM_StringToCLSID)>(runtime.Symbol("COM_StringToCLSID"));
    auto create = reinterpret_cast<decltype(&COM_CreateInstance)>(runtime.Symbol("COM_CreateInstance"));
    if (!parse || !create) return 2;
    std::basic_string<COM_WCHAR> text;
    for (const char* c = argv[2]; *c; ++c) text += COM_WCHAR(*c);
    _COM_GUID clsid{};
    if (COM_FAILED(parse(text.c_str(), &clsid))) return 2;
    COM_IUnknown* object = nullptr;
    COM_HRESULT hr = create(clsid, 0, COM_IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object) object->Release();
    // The runtime stays loaded: the component it loaded links it.
    runtime.Release();
    if (uint32_t(hr) == uint32_t(std::stoul(argv[3], nullptr, 16))) return 0;
    std::printf("activation gave %08X\n", unsigned(hr));
    return 1;
}
