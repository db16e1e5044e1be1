// The registry's limits of depth and size, with the same verdicts on both
// builds; the Windows build under Wine is the reference for each. (Name
// lengths are checked with the other name rules.)
#include <string>

#include "registry_fixture.h"

namespace tavo::test {
namespace {

TEST_F(RegistryTest, DeepTreesAreMadeAndRemovedWhole) {
    OpenRoot(COM_REGROOT_USER);
    // One level at a time: a whole path is bounded by its length first.
    for (int level = 1; level <= 513; ++level) ASSERT_EQ(Reg()->CreateKey(COM_TEXT("k"), 1), S_OK) << level;
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("deepest"), COM_TEXT("x")), S_OK);
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
