// The built library exports exactly the names of the export table.
#include "support/dynamic_library.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

TEST(ExportsTest, ExactlyTheExportTable) {
    const std::vector<std::string> expected = {
        "COM_CLSIDToString", "COM_ClearErrorInfo", "COM_CreateErrorInfo", "COM_CreateInstance",
        "COM_DecodeHRESULT", "COM_GenerateCLSID", "COM_GetCLSIDFromProgID", "COM_GetClassFactory",
        "COM_GetDescriptionFromClsid", "COM_GetDisplayNameFromClsid", "COM_GetErrorInfo", "COM_GetProgIDFromClsid",
        "COM_GetService", "COM_GetSysStats", "COM_Initialize", "COM_MkParseName", "COM_ResetSysStats",
        "COM_SetErrorInfo", "COM_StringToCLSID", "COM_SysAllocString", "COM_SysAllocStringByteLen",
        "COM_SysAllocStringLen", "COM_SysFreeString", "COM_SysReAllocString", "COM_SysReAllocStringLen",
        "COM_SysStringByteLen", "COM_SysStringLen", "COM_TaskMemAlloc", "COM_TaskMemFree", "COM_Uninitialize",
        "CanUnloadNow", "DllRegisterServer", "DllUnregisterServer", "GetClassObject",
    };
    ASSERT_EQ(expected.size(), 34u);
    std::vector<std::string> names = ReadExportNames(BinaryDirectory() + "/" + TAVOCOM_LIBRARY_FILE);
    EXPECT_EQ(names, expected);
}

} // namespace
} // namespace tavo::test
