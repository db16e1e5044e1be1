// Identifiers: text form, parsing, generation; task memory.
#include "support/test_support.h"

#include <cstring>
#include <utility>

namespace tavo::test {
namespace {

// Upper-case digits, fields in order, the bytes of Data4 one by one.
TEST(GuidTest, TextForm) {
    const _COM_GUID id = {0x0A1B2C3D, 0x4E5F, 0x6A7B, {0x8C, 0x9D, 0xAE, 0xBF, 0xC0, 0xD1, 0xE2, 0xF3}};
    const std::pair<const _COM_GUID*, const char*> cases[] = {
        {&COM_IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&id, "{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}"},
    };
    for (const auto& [guid, text] : cases) {
        utlAutoBstr s;
        ASSERT_EQ(COM_CLSIDToString(*guid, s.Put()), S_OK);
        EXPECT_EQ(COM_SysStringLen(s.Get()), 38u);
        EXPECT_EQ(Narrow(FromBstr(s.Get())), text);
    }
}

TEST(GuidTest, RoundTripsAndAcceptsEitherCase) {
    for (int i = 0; i < 50; ++i) {
        _COM_GUID id{}, back{};
        ASSERT_EQ(COM_GenerateCLSID(&id), S_OK);
        utlAutoBstr text;
        ASSERT_EQ(COM_CLSIDToString(id, text.Put()), S_OK);
        ASSERT_EQ(COM_StringToCLSID(text.Get(), &back), S_OK);
        EXPECT_TRUE(COM_IsEqualGUID(id, back));
    }
    _COM_GUID id{};
    ASSERT_EQ(COM_StringToCLSID(COM_TEXT("{0a1b2c3d-4e5f-6a7b-8c9d-aebfc0d1e2f3}"), &id), S_OK);
    const _COM_GUID expected = {0x0A1B2C3D, 0x4E5F, 0x6A7B, {0x8C, 0x9D, 0xAE, 0xBF, 0xC0, 0xD1, 0xE2, 0xF3}};
    EXPECT_TRUE(COM_IsEqualGUID(id, expected));
}

TEST(GuidTest, RejectsTextsThatAreNotIdentifiers) {
    const char* const bad[] = {
        "",
        "{}",
        "00000000-0000-0000-C000-000000000046",   // no braces
        "{00000000-0000-0000-C000-000000000046",  // no closing brace
        "{00000000-0000-0000-C000-00000000004G}", // not a hex digit
        "{00000000-0000-0000-C000+000000000046}", // wrong separator
        "{000000000-000-0000-C000-000000000046}", // separator misplaced
        "{00000000-0000-0000-C000-0000000000046}", // one digit too many
        "{ 0000000-0000-0000-C000-000000000046}",
        "not an identifier at all",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        _COM_GUID id = {0xDEADBEEF, 0, 0, {}};
        EXPECT_EQ(COM_StringToCLSID(W(text).c_str(), &id), CO_E_CLASSSTRING);
    }
}

TEST(GuidTest, GeneratedIdentifiersDifferAndCarryVersion4) {
    _COM_GUID a{}, b{};
    ASSERT_EQ(COM_GenerateCLSID(&a), S_OK);
    ASSERT_EQ(COM_GenerateCLSID(&b), S_OK);
    EXPECT_FALSE(COM_IsEqualGUID(a, b));
    EXPECT_EQ(a.Data3 >> 12, 4);
    EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
}

TEST(TaskMemTest, AllocFreeAndFailurePath) {
    void* block = kPoison;
    ASSERT_EQ(COM_TaskMemAlloc(16, &block), 0);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 16);
    EXPECT_EQ(COM_TaskMemFree(block), 0);
    EXPECT_EQ(COM_TaskMemFree(nullptr), 0);

    // A size that cannot be served: flag 1 and a null block, not a status.
    for (size_t size : {~size_t(0), ~size_t(0) - 4096, size_t(1) << 62}) {
        block = kPoison;
        EXPECT_EQ(COM_TaskMemAlloc(size, &block), 1);
        EXPECT_EQ(block, nullptr);
    }
}

} // namespace
} // namespace tavo::test
