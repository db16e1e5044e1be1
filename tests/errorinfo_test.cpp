// Error records and the current-record slot.
#include "support/test_support.h"

namespace tavo::test {
namespace {

class ErrorInfoTest : public ModuleCountTest {
protected:
    void SetUp() override {
        ASSERT_EQ(COM_ClearErrorInfo(), S_OK);
        ModuleCountTest::SetUp();
    }
    void TearDown() override {
        EXPECT_EQ(COM_ClearErrorInfo(), S_OK);
        ModuleCountTest::TearDown();
    }
    static uint32_t RefCount(COM_IErrorInfo* r) {
        r->AddRef();
        return r->Release();
    }
};

TEST_F(ErrorInfoTest, NewRecordIsEmptyButNotNull) {
    utlAutoIf<COM_IErrorInfo> record;
    ASSERT_EQ(COM_CreateErrorInfo(record.Put()), S_OK);
    utlAutoBstr description, source;
    ASSERT_EQ(record->GetDescription(description.Put()), S_OK);
    ASSERT_EQ(record->GetSource(source.Put()), S_OK);
    ASSERT_NE(description.Get(), nullptr);
    ASSERT_NE(source.Get(), nullptr);
    EXPECT_EQ(description.Length(), 0u);
    uint32_t number = 9, first = 9, second = 9;
    EXPECT_EQ(record->GetNumber(&number), S_OK);
    EXPECT_EQ(record->GetNumberPair(&first, &second), S_OK);
    EXPECT_EQ(number + first + second, 0u);
}

TEST_F(ErrorInfoTest, FieldsRoundTripAndSettersReplace) {
    utlAutoIf<COM_IErrorInfo> record;
    ASSERT_EQ(COM_CreateErrorInfo(record.Put()), S_OK);
    EXPECT_EQ(record->SetDescription(COM_TEXT("first")), S_OK);
    EXPECT_EQ(record->SetDescription(COM_TEXT("second description")), S_OK);
    EXPECT_EQ(record->SetSource(COM_TEXT("unit")), S_OK);
    EXPECT_EQ(record->SetNumber(0xFFFFFFFFu), S_OK);
    EXPECT_EQ(record->SetNumberPair(3, 4), S_OK);
    utlAutoBstr description, source;
    record->GetDescription(description.Put());
    record->GetSource(source.Put());
    EXPECT_EQ(Narrow(FromBstr(description.Get())), "second description");
    EXPECT_EQ(Narrow(FromBstr(source.Get())), "unit");
    uint32_t number = 0, first = 0, second = 0;
    record->GetNumber(&number);
    record->GetNumberPair(&first, &second);
    EXPECT_EQ(number, 0xFFFFFFFFu);
    EXPECT_EQ(first, 3u);
    EXPECT_EQ(second, 4u);
    // Setting null clears the text back to empty.
    record->SetSource(nullptr);
    record->GetSource(source.Put());
    EXPECT_EQ(source.Length(), 0u);
}

// Get adds a reference and keeps the slot's; setting the current record
// again adds none; null and Clear give the slot's reference back.
TEST_F(ErrorInfoTest, SlotReferences) {
    utlAutoIf<COM_IErrorInfo> record;
    ASSERT_EQ(COM_CreateErrorInfo(record.Put()), S_OK);
    ASSERT_EQ(COM_SetErrorInfo(record.Get()), S_OK);
    ASSERT_EQ(COM_SetErrorInfo(record.Get()), S_OK);
    EXPECT_EQ(RefCount(record.Get()), 2u);
    {
        utlAutoIf<COM_IErrorInfo> a, b;
        ASSERT_EQ(COM_GetErrorInfo(a.Put()), S_OK);
        ASSERT_EQ(COM_GetErrorInfo(b.Put()), S_OK);
        EXPECT_EQ(a.Get(), record.Get());
        EXPECT_EQ(b.Get(), record.Get());
        EXPECT_EQ(RefCount(record.Get()), 4u);
    }
    EXPECT_EQ(COM_SetErrorInfo(nullptr), S_OK);
    EXPECT_EQ(RefCount(record.Get()), 1u);
    COM_IErrorInfo* out = nullptr;
    EXPECT_EQ(COM_GetErrorInfo(&out), S_FALSE);

    COM_SetErrorInfo(record.Get());
    EXPECT_EQ(COM_ClearErrorInfo(), S_OK);
    EXPECT_EQ(COM_ClearErrorInfo(), S_OK);
    EXPECT_EQ(RefCount(record.Get()), 1u);
}

// A record whose destruction is observed through the module count: the slot
// held its last reference, so replacing it destroys it.
TEST_F(ErrorInfoTest, ReplacingDestroysARecordTheSlotOwnedAlone) {
    COM_IErrorInfo* first = nullptr;
    ASSERT_EQ(COM_CreateErrorInfo(&first), S_OK);
    COM_SetErrorInfo(first);
    first->Release(); // the slot now owns it alone

    utlAutoIf<COM_IErrorInfo> second;
    ASSERT_EQ(COM_CreateErrorInfo(second.Put()), S_OK);
    ASSERT_EQ(COM_SetErrorInfo(second.Get()), S_OK);
    EXPECT_EQ(RefCount(second.Get()), 2u);

    utlAutoIf<COM_IErrorInfo> current;
    ASSERT_EQ(COM_GetErrorInfo(current.Put()), S_OK);
    EXPECT_EQ(current.Get(), second.Get());
    // The fixture's module count check shows the first one is gone.
}

} // namespace
} // namespace tavo::test
