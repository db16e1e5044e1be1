// Length-prefixed strings: layout, null and embedded-zero inputs, odd byte
// lengths, reallocation (sources inside the string: the strings fuzzer).
#include "support/test_support.h"

#include <cstring>

namespace tavo::test {
namespace {

uint32_t Prefix(COM_BSTR s) {
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<const char*>(s) - 4, 4);
    return n;
}

TEST(StringsTest, LayoutIsPrefixCharactersTerminator) {
    COM_BSTR s = COM_SysAllocString(COM_TEXT("abc"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Prefix(s), 6u);
    EXPECT_EQ(COM_SysStringLen(s), 3u);
    EXPECT_EQ(COM_SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(COM_SysFreeString(s), 1);
}

TEST(StringsTest, NullMeansEmpty) {
    EXPECT_EQ(COM_SysAllocString(nullptr), nullptr);
    EXPECT_EQ(COM_SysStringLen(nullptr), 0u);
    EXPECT_EQ(COM_SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(COM_SysFreeString(nullptr), 1);

    COM_BSTR empty = COM_SysAllocString(COM_TEXT(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(COM_SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], 0);
    COM_SysFreeString(empty);
}

TEST(StringsTest, LengthVariantsKeepEmbeddedZeros) {
    const COM_WCHAR text[] = {'a', 0, 'b', 'c', 0};
    COM_BSTR s = COM_SysAllocStringLen(text, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(COM_SysStringLen(s), 4u);
    EXPECT_EQ(FromBstr(s), WString(text, 4));
    EXPECT_EQ(s[4], 0);
    COM_SysFreeString(s);

    // SysAllocString stops at the first zero.
    s = COM_SysAllocString(text);
    EXPECT_EQ(COM_SysStringLen(s), 1u);
    COM_SysFreeString(s);

    // A null source leaves room for the caller, terminated.
    s = COM_SysAllocStringLen(nullptr, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(COM_SysStringLen(s), 5u);
    EXPECT_EQ(s[5], 0);
    COM_SysFreeString(s);
}

TEST(StringsTest, OddByteLengths) {
    const char bytes[] = "xyzzy";
    for (uint32_t n : {0u, 1u, 3u, 5u}) {
        COM_BSTR s = COM_SysAllocStringByteLen(bytes, n);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(COM_SysStringByteLen(s), n);
        EXPECT_EQ(COM_SysStringLen(s), n / 2);
        EXPECT_EQ(std::memcmp(s, bytes, n), 0);
        // Terminated right after the bytes, whatever their parity.
        EXPECT_EQ(reinterpret_cast<const char*>(s)[n], 0);
        COM_SysFreeString(s);
    }
}

TEST(StringsTest, LengthsThatCannotBeAllocated) {
    EXPECT_EQ(COM_SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(COM_SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(COM_SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
    COM_BSTR s = COM_SysAllocString(COM_TEXT("keep"));
    EXPECT_EQ(COM_SysReAllocStringLen(&s, nullptr, 0xFFFFFFFFu), 0);
    // A failed reallocation leaves the old string in place.
    EXPECT_EQ(FromBstr(s), WString(COM_TEXT("keep")));
    COM_SysFreeString(s);
}

TEST(StringsTest, ReallocationReplacesContent) {
    COM_BSTR s = COM_SysAllocString(COM_TEXT("first"));
    ASSERT_NE(COM_SysReAllocString(&s, COM_TEXT("a much longer second text")), 0);
    EXPECT_EQ(FromBstr(s), WString(COM_TEXT("a much longer second text")));
    ASSERT_NE(COM_SysReAllocStringLen(&s, COM_TEXT("abcdef"), 3), 0);
    EXPECT_EQ(FromBstr(s), WString(COM_TEXT("abc")));
    EXPECT_EQ(s[3], 0);

    COM_SysFreeString(s);

    // Reallocating a null string allocates one.
    COM_BSTR n = nullptr;
    ASSERT_NE(COM_SysReAllocString(&n, COM_TEXT("new")), 0);
    EXPECT_EQ(FromBstr(n), WString(COM_TEXT("new")));
    ASSERT_NE(COM_SysReAllocStringLen(&n, nullptr, 2), 0);
    EXPECT_EQ(COM_SysStringLen(n), 2u);
    COM_SysFreeString(n);
}

} // namespace
} // namespace tavo::test
