// Class information lookups over the entries self-registration writes.
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

const _COM_GUID kClass = {0x51A0B0C0, 0x1D2E, 0x4F30, {0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8}};

class ClassInfoTest : public ModuleCountTest {
protected:
    void TearDown() override {
        m_registry.Reset(nullptr);
        ModuleCountTest::TearDown();
    }

    COM_IRegistry* Root() {
        if (!m_registry) {
            EXPECT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, m_registry.PutVoid()), S_OK);
        }
        EXPECT_EQ(m_registry->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
        return m_registry.Get();
    }
    // Writes `value` (null: no value) as the default of CLSID\{kClass}\`subkey`.
    void WriteClassEntry(const char* subkey, const char* value) {
        COM_IRegistry* r = Root();
        ASSERT_EQ(r->CreateKey(COM_TEXT("CLSID\\{51A0B0C0-1D2E-4F30-8192-A3B4C5D6E7F8}"), 1), S_OK);
        ASSERT_EQ(r->CreateKey(W(subkey).c_str(), 1), S_OK);
        if (value) {
            ASSERT_EQ(r->SetStringValue(COM_TEXT(""), W(value).c_str()), S_OK);
        }
    }
    void WriteProgID(const char* progid, const char* clsidText) {
        COM_IRegistry* r = Root();
        ASSERT_EQ(r->CreateKey(W(progid).c_str(), 1), S_OK);
        ASSERT_EQ(r->CreateKey(COM_TEXT("CLSID"), 1), S_OK);
        ASSERT_EQ(r->SetStringValue(COM_TEXT(""), W(clsidText).c_str()), S_OK);
    }

    RegistrySandbox m_sandbox;
    utlAutoIf<COM_IRegistry> m_registry;
};

TEST_F(ClassInfoTest, ProgIDRoundTrip) {
    WriteProgID("Sample.Class", "{51A0B0C0-1D2E-4F30-8192-A3B4C5D6E7F8}");
    WriteClassEntry("ProgID", "Sample.Class");
    _COM_GUID clsid{};
    ASSERT_EQ(COM_GetCLSIDFromProgID(COM_TEXT("Sample.Class"), &clsid), S_OK);
    EXPECT_TRUE(COM_IsEqualGUID(clsid, kClass));
    // Key names compare without regard to case.
    ASSERT_EQ(COM_GetCLSIDFromProgID(COM_TEXT("sample.CLASS"), &clsid), S_OK);
    utlAutoBstr progid;
    ASSERT_EQ(COM_GetProgIDFromClsid(kClass, progid.Put()), S_OK);
    EXPECT_EQ(Narrow(progid.Get()), "Sample.Class");
}

TEST_F(ClassInfoTest, ProgIDFailuresLeaveTheRecordUntouched) {
    WriteProgID("Broken.Class", "not an identifier");
    for (const COM_WCHAR* progid : {COM_TEXT("No.Such.Class"), COM_TEXT("Broken.Class"), COM_TEXT(""),
                                    static_cast<const COM_WCHAR*>(nullptr)}) {
        _COM_GUID clsid = {0xDEADBEEF, 1, 2, {3}};
        EXPECT_EQ(COM_GetCLSIDFromProgID(progid, &clsid), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(clsid.Data1, 0xDEADBEEFu);
    }
    COM_IErrorInfo* record = nullptr;
    EXPECT_EQ(COM_GetErrorInfo(&record), S_FALSE);
}

TEST_F(ClassInfoTest, DisplayNameAndDescription) {
    WriteClassEntry("DisplayName", "Sample display name");
    utlAutoBstr text;
    ASSERT_EQ(COM_GetDisplayNameFromClsid(kClass, text.Put()), S_OK);
    EXPECT_EQ(Narrow(text.Get()), "Sample display name");

    // No Description key: the out string is not touched.
    COM_BSTR untouched = reinterpret_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(COM_GetDescriptionFromClsid(kClass, &untouched), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(static_cast<void*>(untouched), kPoison);

    // The key without a default value: the out string is null.
    WriteClassEntry("Description", nullptr);
    COM_BSTR nulled = reinterpret_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(COM_GetDescriptionFromClsid(kClass, &nulled), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(nulled, nullptr);

    WriteClassEntry("Description", "Described");
    ASSERT_EQ(COM_GetDescriptionFromClsid(kClass, text.Put()), S_OK);
    EXPECT_EQ(Narrow(text.Get()), "Described");
}

TEST_F(ClassInfoTest, UnknownClassFailsAllThreeLookups) {
    const _COM_GUID unknown = {0x0BADC0DE, 0, 0, {}};
    for (auto lookup : {COM_GetProgIDFromClsid, COM_GetDisplayNameFromClsid, COM_GetDescriptionFromClsid}) {
        COM_BSTR out = reinterpret_cast<COM_BSTR>(kPoison);
        EXPECT_EQ(lookup(unknown, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(static_cast<void*>(out), kPoison);
    }
}

} // namespace
} // namespace tavo::test
