// The category manager and its two enumerators.
#include "support/registry_sandbox.h"
#include "support/test_support.h"

#include <map>
#include <set>

namespace tavo::test {
namespace {

constexpr COM_HRESULT kNotFound = COM_STATUS_FROM_WIN32(2);
// Makes the class root unreadable with a COM_VERSION too long to be read;
// returns the status the registry service's Open then gives.
COM_HRESULT MakeRootUnreadable() {
    SetEnv("COM_VERSION", std::string(70000, 'v').c_str());
    utlAutoIf<COM_IRegistry> r;
    if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()))) return S_OK;
    return r->Open(COM_REGROOT_CLASSES, nullptr);
}

const _COM_GUID kCatA = {0xA0000001, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const _COM_GUID kCatB = {0xB0000002, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const _COM_GUID kCatC = {0xC0000003, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const _COM_GUID kClass1 = {0x10000001, 0x3333, 0x4444, {1, 2, 3, 4, 5, 6, 7, 8}};
const _COM_GUID kClass2 = {0x20000002, 0x3333, 0x4444, {1, 2, 3, 4, 5, 6, 7, 8}};

class CategoriesTest : public ModuleCountTest {
protected:
    void SetUp() override {
        ModuleCountTest::SetUp();
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_CategoryManager, 0, COM_IID_ICatRegister, m_register.PutVoid()), S_OK);
        ASSERT_EQ(m_register->QueryInterface(COM_IID_ICatInformation, m_info.PutVoid()), S_OK);
    }
    void TearDown() override {
        m_register.Reset(nullptr);
        m_info.Reset(nullptr);
        ModuleCountTest::TearDown();
    }

    std::string Description(const _COM_GUID& category, COM_HRESULT expected = S_OK) {
        utlAutoBstr text;
        EXPECT_EQ(m_info->GetCategoryDesc(category, text.Put()), expected);
        return Narrow(FromBstr(text.Get()));
    }
    // Writes a key below ComponentCategories the manager would not write.
    void WriteForeignKey(const std::string& path) {
        utlAutoIf<COM_IRegistry> r;
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()), S_OK);
        ASSERT_EQ(r->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
        ASSERT_EQ(r->CreateKey(W("ComponentCategories\\" + path).c_str(), 1), S_OK);
    }
    void RegisterThree() {
        ASSERT_EQ(m_register->RegisterCategory(kCatA, COM_TEXT("first")), S_OK);
        ASSERT_EQ(m_register->RegisterCategory(kCatB, COM_TEXT("second")), S_OK);
        ASSERT_EQ(m_register->RegisterCategory(kCatC, COM_TEXT("third")), S_OK);
    }

    RegistrySandbox m_sandbox;
    utlAutoIf<COM_ICatRegister> m_register;
    utlAutoIf<COM_ICatInformation> m_info;
};

TEST_F(CategoriesTest, DescriptionsAndClassEntries) {
    ASSERT_EQ(m_register->RegisterCategory(kCatA, COM_TEXT("first")), S_OK);
    EXPECT_EQ(Description(kCatA), "first");
    ASSERT_EQ(m_register->RegisterCategory(kCatA, COM_TEXT("replaced")), S_OK);
    EXPECT_EQ(Description(kCatA), "replaced");

    // A class entry in a category never registered: the key has no description.
    ASSERT_EQ(m_register->RegisterClassImplCategory(kCatB, kClass1), S_OK);
    ASSERT_EQ(m_register->RegisterClassImplCategory(kCatA, kClass1), S_OK);
    ASSERT_EQ(m_register->RegisterClassImplCategory(kCatA, kClass2), S_OK);
    COM_BSTR nulled = reinterpret_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(m_info->GetCategoryDesc(kCatB, &nulled), kNotFound);
    EXPECT_EQ(nulled, nullptr);

    // Removing a class entry leaves the category and its description.
    ASSERT_EQ(m_register->UnRegisterClassImplCategory(kCatA, kClass1), S_OK);
    EXPECT_EQ(m_register->UnRegisterClassImplCategory(kCatA, kClass1), kNotFound);
    EXPECT_EQ(Description(kCatA), "replaced");
    utlAutoIf<COM_IEnumCLSID> classes;
    ASSERT_EQ(m_info->EnumClassesOfCategory(kCatA, classes.Put()), S_OK);
    uint32_t count = 0;
    EXPECT_EQ(classes->GetCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    // Removing the category takes its class entries with it.
    ASSERT_EQ(m_register->UnRegisterCategory(kCatA), S_OK);
    EXPECT_EQ(m_register->UnRegisterCategory(kCatA), kNotFound);
    COM_BSTR untouched = reinterpret_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(m_info->GetCategoryDesc(kCatA, &untouched), kNotFound);
    EXPECT_EQ(static_cast<void*>(untouched), kPoison);
    COM_IEnumCLSID* none = reinterpret_cast<COM_IEnumCLSID*>(kPoison);
    EXPECT_EQ(m_info->EnumClassesOfCategory(kCatA, &none), kNotFound);
}

TEST_F(CategoriesTest, FailingStepsReturnTheirStatusUnchanged) {
    // No ComponentCategories key at all.
    COM_BSTR text = reinterpret_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(m_register->UnRegisterCategory(kCatA), kNotFound);
    EXPECT_EQ(m_register->UnRegisterClassImplCategory(kCatA, kClass1), kNotFound);
    EXPECT_EQ(m_info->GetCategoryDesc(kCatA, &text), kNotFound);
    COM_IEnumCATEGORYINFO* categories = nullptr;
    EXPECT_EQ(m_info->EnumCategories(&categories), kNotFound);
    EXPECT_EQ(categories, nullptr);

    // A root that cannot be opened: every operation that renews and opens
    // reports the root's status; a null out argument is refused first.
    const COM_HRESULT kRootUnreadable = MakeRootUnreadable();
    ASSERT_TRUE(COM_FAILED(kRootUnreadable));
    EXPECT_EQ(m_register->RegisterCategory(kCatA, COM_TEXT("x")), kRootUnreadable);
    EXPECT_EQ(m_register->RegisterClassImplCategory(kCatA, kClass1), kRootUnreadable);
    EXPECT_EQ(m_register->UnRegisterCategory(kCatA), kRootUnreadable);
    EXPECT_EQ(m_register->UnRegisterClassImplCategory(kCatA, kClass1), kRootUnreadable);
    EXPECT_EQ(m_info->GetCategoryDesc(kCatA, &text), kRootUnreadable);
    EXPECT_EQ(m_info->GetCategoryDesc(kCatA, nullptr), E_POINTER);
    EXPECT_EQ(m_info->EnumCategories(&categories), kRootUnreadable);
    SetEnv("COM_VERSION", m_sandbox.Version().c_str());
    EXPECT_EQ(m_register->RegisterCategory(kCatA, nullptr), E_INVALIDARG);
}

// The position rules both enumerators share.
template <class Enum, class Record>
void ExpectPositionRules(Enum* e) {
    uint32_t count = 0, position = 0;
    ASSERT_EQ(e->GetCount(&count), S_OK);
    ASSERT_EQ(count, 3u);
    Record* items[8] = {};
    uint32_t given = 77;
    EXPECT_EQ(e->Next(0, items, &given), S_OK);
    EXPECT_EQ(given, 0u);
    EXPECT_EQ(e->Next(2, items, &given), S_OK);
    EXPECT_EQ(given, 2u);
    EXPECT_EQ(e->Next(2, items + 2, &given), S_FALSE);
    EXPECT_EQ(given, 1u);
    EXPECT_EQ(e->Next(2, items + 3, &given), S_FALSE);
    EXPECT_EQ(given, 0u);
    for (Record* r : items) COM_TaskMemFree(r);

    ASSERT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_FALSE);
    EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_FALSE);
    EXPECT_EQ(e->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(e->SetPosition(3), S_FALSE);
    EXPECT_EQ(e->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(e->SetPosition(1), S_OK);
    EXPECT_EQ(e->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 1u);

    // SeekEnd goes to the last name, not past it.
    EXPECT_EQ(e->SeekEnd(), S_OK);
    EXPECT_EQ(e->GetPosition(&position), S_OK);
    EXPECT_EQ(position, 2u);
    Record* last[5] = {};
    EXPECT_EQ(e->Next(5, last, &given), S_FALSE);
    EXPECT_EQ(given, 1u);
    COM_TaskMemFree(last[0]);

    // The largest count wanted stops at the end.
    ASSERT_EQ(e->Reset(), S_OK);
    Record* all[3] = {};
    EXPECT_EQ(e->Next(0xFFFFFFFFu, all, &given), S_FALSE);
    EXPECT_EQ(given, 3u);
    for (Record* r : all) COM_TaskMemFree(r);
}

TEST_F(CategoriesTest, CategoryEnumeratorPositionsAndRecords) {
    RegisterThree();
    utlAutoIf<COM_IEnumCATEGORYINFO> e;
    ASSERT_EQ(m_info->EnumCategories(e.Put()), S_OK);
    ExpectPositionRules<COM_IEnumCATEGORYINFO, COM_CATEGORYINFO>(e.Get());

    // Records carry identifier and description; the description is read
    // when the record is made, not when the enumerator was.
    ASSERT_EQ(m_register->RegisterCategory(kCatB, COM_TEXT("changed")), S_OK);
    ASSERT_EQ(e->Reset(), S_OK);
    COM_CATEGORYINFO* records[3] = {};
    uint32_t given = 0;
    ASSERT_EQ(e->Next(3, records, &given), S_OK);
    std::map<std::string, std::string> seen;
    for (COM_CATEGORYINFO* r : records) {
        seen[GuidText(r->catid)] = Narrow(r->szDescription);
        COM_TaskMemFree(r);
    }
    EXPECT_EQ(seen, (std::map<std::string, std::string>{
                        {GuidText(kCatA), "first"}, {GuidText(kCatB), "changed"}, {GuidText(kCatC), "third"}}));
}

TEST_F(CategoriesTest, ClassEnumeratorPositionsAndRecords) {
    const _COM_GUID classes[] = {kClass1, kClass2, kCatC};
    for (const _COM_GUID& c : classes) ASSERT_EQ(m_register->RegisterClassImplCategory(kCatA, c), S_OK);
    utlAutoIf<COM_IEnumCLSID> e;
    ASSERT_EQ(m_info->EnumClassesOfCategory(kCatA, e.Put()), S_OK);
    ExpectPositionRules<COM_IEnumCLSID, _COM_GUID>(e.Get());

    // The list is fixed at initialisation and Next reads no registry.
    ASSERT_EQ(m_register->UnRegisterCategory(kCatA), S_OK);
    ASSERT_EQ(e->Reset(), S_OK);
    _COM_GUID* records[3] = {};
    uint32_t given = 0;
    ASSERT_EQ(e->Next(3, records, &given), S_OK);
    std::set<std::string> seen;
    for (_COM_GUID* r : records) {
        seen.insert(GuidText(*r));
        COM_TaskMemFree(r);
    }
    EXPECT_EQ(seen, (std::set<std::string>{GuidText(kClass1), GuidText(kClass2), GuidText(kCatC)}));
}

TEST_F(CategoriesTest, LongDescriptionsAreCutToTheRecord) {
    for (size_t length : {255u, 256u, 10000u}) {
        SCOPED_TRACE(length);
        std::string description(length, 'd');
        description[0] = 'D';
        ASSERT_EQ(m_register->RegisterCategory(kCatA, W(description).c_str()), S_OK);
        EXPECT_EQ(Description(kCatA), description);
        utlAutoIf<COM_IEnumCATEGORYINFO> e;
        ASSERT_EQ(m_info->EnumCategories(e.Put()), S_OK);
        COM_CATEGORYINFO* record = nullptr;
        uint32_t given = 0;
        ASSERT_EQ(e->Next(1, &record, &given), S_OK);
        EXPECT_EQ(Narrow(record->szDescription), description.substr(0, 255));
        EXPECT_EQ(record->szDescription[255], 0);
        COM_TaskMemFree(record);
    }
}

TEST_F(CategoriesTest, BadNamesStopNextAtTheName) {
    // A category without a description, and a key that is no identifier.
    ASSERT_EQ(m_register->RegisterClassImplCategory(kCatA, kClass1), S_OK);
    ASSERT_NO_FATAL_FAILURE(WriteForeignKey("not an identifier"));
    _COM_GUID parsed{};
    const COM_HRESULT parseFailure = COM_StringToCLSID(COM_TEXT("not an identifier"), &parsed);
    ASSERT_TRUE(COM_FAILED(parseFailure));
    utlAutoIf<COM_IEnumCATEGORYINFO> e;
    ASSERT_EQ(m_info->EnumCategories(e.Put()), S_OK);
    for (uint32_t i = 0; i < 2; ++i) {
        ASSERT_EQ(e->SetPosition(i), S_OK);
        COM_CATEGORYINFO* record = static_cast<COM_CATEGORYINFO*>(kPoison);
        uint32_t given = 77, position = 9;
        COM_HRESULT hr = e->Next(1, &record, &given);
        EXPECT_TRUE(hr == kNotFound || hr == parseFailure) << std::hex << hr;
        EXPECT_EQ(given, 0u);
        EXPECT_EQ(static_cast<void*>(record), kPoison);
        EXPECT_EQ(e->GetPosition(&position), S_OK);
        EXPECT_EQ(position, i);
    }

    ASSERT_NO_FATAL_FAILURE(WriteForeignKey(GuidText(kCatA) + "\\not a class"));
    utlAutoIf<COM_IEnumCLSID> classes;
    ASSERT_EQ(m_info->EnumClassesOfCategory(kCatA, classes.Put()), S_OK);
    _COM_GUID* records[2] = {};
    uint32_t given = 0;
    EXPECT_EQ(classes->Next(2, records, &given), parseFailure);
    EXPECT_LE(given, 1u);
    for (uint32_t i = 0; i < given; ++i) COM_TaskMemFree(records[i]);
}

TEST_F(CategoriesTest, ClonesOutliveTheirSourceEitherWay) {
    RegisterThree();
    for (bool sourceFirst : {true, false}) {
        SCOPED_TRACE(sourceFirst);
        utlAutoIf<COM_IEnumCATEGORYINFO> source, clone;
        ASSERT_EQ(m_info->EnumCategories(source.Put()), S_OK);
        ASSERT_EQ(source->Skip(1), S_OK);
        ASSERT_EQ(source->Clone(clone.Put()), S_OK);
        (sourceFirst ? source : clone).Reset(nullptr);
        COM_IEnumCATEGORYINFO* left = sourceFirst ? clone.Get() : source.Get();
        uint32_t position = 0;
        EXPECT_EQ(left->GetPosition(&position), S_OK);
        EXPECT_EQ(position, 1u);
        COM_CATEGORYINFO* records[2] = {};
        uint32_t given = 0;
        EXPECT_EQ(left->Next(2, records, &given), S_OK);
        for (COM_CATEGORYINFO* r : records) COM_TaskMemFree(r);
    }
}

} // namespace
} // namespace tavo::test
