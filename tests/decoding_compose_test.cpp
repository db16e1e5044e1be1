// The built-in status texts and their number formatting, called directly.
#include "decoding/compose.h"
#include "decoding/message_table.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

using decoding::ComposeStatusText;

struct Composed {
    uint32_t code;
    const char* text;
};

// Codes whose text needs no system message: facility rules and table rows
// win over the system, and facilities from 100 on never ask it.
const Composed kComposed[] = {
    // The five facility rules.
    {0x806F0005, "TAVO error #5 [806F0005]"},
    {0x806FFFFF, "TAVO error #65535 [806FFFFF]"},
    {0x80700000, "TAVO call-in error #0 [80700000]"},
    {0x80620011, "Unix Error #17 [80620011]"},
    {0x807CFFFD, "ZeroC-DNS error #-5 [807CFFFD]"},
    {0x807C0005, "ZeroC-DNS error #-65533 [807C0005]"},
    {0x807C0000, "ZeroC-DNS error #-65538 [807C0000]"},
    {0x80101234, "SSH Error [80101234]"},
    {0x80102FFF, "SFTP Error [80102FFF]"},
    {0x80103000, "Unknown error [80103000]"},
    {0x8010F001, "Unknown error [8010F001]"},
    {0x80100001, "SSH: Not currently connected [80100001]"},
    {0x8010000B, "SSH: Invalid host key [8010000B]"},
    // Table rows: first, last, misspelled, and ones the system also knows.
    {0x00000000, "OK status [       0]"},
    {0x00000001, "FALSE status [       1]"},
    {0x807F0006, "Data Format Error [807F0006]"},
    {0x8067000E, "Communication protocol errorror [8067000E]"},
    {0x807F0003, "Server Errorr [807F0003]"},
    {0x80004005, "General failure [80004005]"},
    {0x8000FFFF, "Unknown error [8000FFFF]"},
    {0x80020246, "Illegal Character [80020246]"},
    {0x80040111, "CoClass not available [80040111]"},
    {0x8007000E, "Ran out of memory [8007000E]"},
    {0x80680004, "Parser does not support this moniker extension [80680004]"},
    // Facilities from 100 on outside the table; bits 29 and 30 are not
    // part of the facility.
    {0x80650001, "Unknown error [80650001]"},
    {0x9FFF0001, "Unknown error [9FFF0001]"},
    {0xE06F0005, "TAVO error #5 [E06F0005]"},
    {0xA06F0005, "TAVO error #5 [A06F0005]"},
    {0x006F0005, "TAVO error #5 [  6F0005]"},
    {0x00650000, "Unknown error [  650000]"},
};

TEST(ComposeStatusText, FacilityRulesTableAndSuffix) {
    for (const Composed& c : kComposed) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Narrow(ComposeStatusText(COM_HRESULT(c.code))), c.text);
    }
}

TEST(ComposeStatusText, EveryTableRowIsFoundExactly) {
    for (const decoding::MessageRow& row : decoding::kMessageTable) {
        WString expected = WString(row.text) + COM_TEXT(" [");
        EXPECT_EQ(ComposeStatusText(COM_HRESULT(row.code)).substr(0, expected.size()), expected) << std::hex << row.code;
    }
    EXPECT_EQ(decoding::FindMessage(0x80020002), nullptr); // between two rows
    EXPECT_EQ(decoding::FindMessage(0xFFFFFFFF), nullptr);
}

// Below the decoder facilities the narrow system text stands in for a
// missing row, unchanged; without one the text is "Unknown error".
TEST(ComposeStatusText, SystemTextBelowTheDecoderFacilities) {
    for (uint32_t code : {0x80070005u, 0x80070002u, 0x80100000u, 0x80040154u, 0x8003FFFFu}) {
        SCOPED_TRACE(code);
        const std::string text = Narrow(ComposeStatusText(COM_HRESULT(code)));
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " [%8X]", code);
        ASSERT_GT(text.size(), strlen(suffix));
        EXPECT_EQ(text.substr(text.size() - strlen(suffix)), suffix);
        WString system;
        if (SystemMessageW(code, &system)) {
            EXPECT_EQ(text, Narrow(system) + suffix);
        } else if (!HasMessageOracle() && text != std::string("Unknown error") + suffix) {
            EXPECT_EQ(text.substr(text.size() - strlen(suffix) - 2, 2), "\r\n"); // the system's line break stays
        }
    }
}

TEST(NumberFormat, DecimalAndHexadecimalChoices) {
    struct Hex {
        uint32_t value, width;
        decoding::Fill fill;
        decoding::LetterCase letters;
        const char* text;
    };
    using decoding::Fill;
    using decoding::LetterCase;
    const Hex hex[] = {
        {0, 8, Fill::Blank, LetterCase::Upper, "       0"},  {0, 0, Fill::Blank, LetterCase::Upper, "0"},
        {0xABC, 4, Fill::Zero, LetterCase::Lower, "0abc"},   {0xABC, 2, Fill::Zero, LetterCase::Upper, "ABC"},
        {0xFFFFFFFF, 8, Fill::Blank, LetterCase::Lower, "ffffffff"}, {0x1F, 10, Fill::Blank, LetterCase::Upper, "        1F"},
    };
    for (const Hex& h : hex) {
        WString out = COM_TEXT("x");
        decoding::AppendHex(out, h.value, h.width, h.fill, h.letters);
        EXPECT_EQ(Narrow(out), std::string("x") + h.text);
    }
    const std::pair<int32_t, const char*> decimal[] = {
        {0, "0"}, {7, "7"}, {-5, "-5"}, {65535, "65535"}, {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const auto& [value, text] : decimal) {
        WString out;
        decoding::AppendDecimal(out, value);
        EXPECT_EQ(Narrow(out), text);
    }
}

} // namespace
} // namespace tavo::test
