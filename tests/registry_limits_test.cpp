// The registry's limits of depth and size, with the same verdicts on both
// builds where Wine, the reference, has the platform's limit. (Name lengths
// are checked with the other name rules.)
#include <string>
#include <vector>

#include "registry_fixture.h"

namespace tavo::test {
namespace {

// The platform's trees are 512 levels deep at most, counted from the hive's
// root; the store refuses a key below that as a parameter it cannot take,
// and a path of several levels before it makes any of them. Wine has no such
// limit: the Windows build under it makes the deeper keys.
TEST_F(RegistryTest, TreesEndAt512Levels) {
    const COM_HRESULT deeper = HasHiveFiles() ? E_INVALIDARG : S_OK;
    OpenRoot(COM_REGROOT_USER); // Software\Quorvalltech\<version>: level 3
    // One level at a time: a whole path is bounded by its length first.
    for (int level = 4; level <= 511; ++level) ASSERT_EQ(Reg()->CreateKey(COM_TEXT("k"), 1), S_OK) << level;
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("a\\b"), 0), deeper) << "levels 512 and 513";
    EXPECT_EQ(KeyNames(Reg()), deeper == S_OK ? std::vector<std::string>{"a"} : std::vector<std::string>{});
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("k"), 1), S_OK) << "level 512";
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("deepest"), COM_TEXT("x")), S_OK);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("k"), 0), deeper) << "level 513";
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("k")), S_OK);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("k")), COM_STATUS_FROM_WIN32(2));
}

TEST_F(RegistryTest, LargeValuesReadBackWhole) {
    OpenRoot(COM_REGROOT_USER);
    for (size_t megabytes : {1, 64}) {
        SCOPED_TRACE(std::to_string(megabytes) + " MB");
        const WString text(megabytes << 20, COM_WCHAR('v'));
        ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("big"), text.c_str()), S_OK);
        utlAutoBstr back;
        ASSERT_EQ(Reg()->GetStringValue(COM_TEXT("big"), back.Put()), S_OK);
        EXPECT_EQ(WString(back.Get()), text);
    }
}

} // namespace
} // namespace tavo::test
