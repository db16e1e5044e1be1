// The demo: one pass over what the runtime does, as a client sees it.
#include <cstdio>

#include <tavocom/library_entry.h>

#include "tools/command.h"

namespace tavo::tools {
namespace {

int Demo(const Args&) {
    std::printf("== TAVOCOM64 demo ==\n");

    std::printf("\n-- identifiers --\n");
    _COM_GUID id{};
    COM_GenerateCLSID(&id);
    std::string text = GuidText(id);
    _COM_GUID back{};
    bool same = ParseGuid(text, &back) && COM_IsEqualGUID(id, back);
    std::printf("generated %s, parsed back: %s\n", text.c_str(), same ? "identical" : "DIFFERENT");
    std::printf("COM_IUnknown is %s\n", GuidText(COM_IID_IUnknown).c_str());
    _COM_GUID bad{};
    std::printf("parsing \"not-a-guid\" gives %s\n",
                StatusText(COM_StringToCLSID(COM_TEXT("not-a-guid"), &bad)).c_str());

    std::printf("\n-- strings --\n");
    utlAutoBstr s(COM_SysAllocString(COM_TEXT("length-prefixed")));
    std::printf("\"%s\": %u characters, %u bytes\n", Narrow(s.Get()).c_str(), COM_SysStringLen(s.Get()),
                COM_SysStringByteLen(s.Get()));

    std::printf("\n-- error record --\n");
    {
        utlAutoIf<COM_IErrorInfo> record;
        COM_CreateErrorInfo(record.Put());
        record->SetDescription(COM_TEXT("something went wrong"));
        record->SetSource(COM_TEXT("tavocom demo"));
        COM_SetErrorInfo(record.Get());
    }
    PrintErrorRecord();
    COM_ClearErrorInfo();

    for (const auto& step : DemoSteps()) step();

    std::printf("\nCanUnloadNow: %s\n", CanUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
    return 0;
}

CommandRegistrar g_demo({"demo", "", "walk through what the runtime does", Demo});

} // namespace
} // namespace tavo::tools
