// The built library exports exactly the names of the export table.
#include "support/dynamic_library.h"
#include "support/test_support.h"
#include "tavocom_export_names.h"

namespace tavo::test {
namespace {

TEST(ExportsTest, ExactlyTheExportTable) {
    const std::vector<std::string> expected(std::begin(kTavocomExportNames), std::end(kTavocomExportNames));
    ASSERT_EQ(expected.size(), 34u);
    std::vector<std::string> names = ReadExportNames(BinaryDirectory() + "/" + TAVOCOM_LIBRARY_FILE);
    EXPECT_EQ(names, expected);
}

// A component built with the package's CMake function exports its entry
// points and nothing of the C++ library it compiled in.
TEST(ExportsTest, ComponentsExportTheirEntryPointsOnly) {
    const std::vector<std::string> expected = {"CanUnloadNow", "DllRegisterServer", "DllUnregisterServer",
                                               "GetClassObject"};
    EXPECT_EQ(ReadExportNames(BinaryDirectory() + "/greeter" + TAVOCOM_COMPONENT_SUFFIX), expected);
}

} // namespace
} // namespace tavo::test
