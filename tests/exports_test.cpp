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

} // namespace
} // namespace tavo::test
