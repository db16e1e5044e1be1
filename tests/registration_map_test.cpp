// The walk over a class map with categories, and the registration helper
// that component libraries use.
#include "class_root_view.h"
#include "registration/registration.h"
#include "support/test_support.h"

#include <set>

namespace tavo::test {
namespace {

using Names = std::vector<std::string>;
constexpr COM_HRESULT kNotFound = COM_STATUS_FROM_WIN32(2);

const _COM_GUID kClassA = {0xA1A1A1A1, 0, 0, {1, 1, 1, 1, 1, 1, 1, 1}};
const _COM_GUID kClassB = {0xB2B2B2B2, 0, 0, {2, 2, 2, 2, 2, 2, 2, 2}};
const _COM_GUID kClassC = {0xC3C3C3C3, 0, 0, {3, 3, 3, 3, 3, 3, 3, 3}};
const _COM_GUID kCat1 = {0x11111111, 0, 0, {9, 9, 9, 9, 9, 9, 9, 1}};
const _COM_GUID kCat2 = {0x22222222, 0, 0, {9, 9, 9, 9, 9, 9, 9, 2}};

// Statuses the map's registration functions answer, and who was called.
COM_HRESULT g_answer[2];
std::vector<int> g_calls;
COM_HRESULT RegisterA(int32_t) {
    g_calls.push_back(0);
    return g_answer[0];
}
COM_HRESULT RegisterB(int32_t) {
    g_calls.push_back(1);
    return g_answer[1];
}
const _COM_GUID* const kBoth[] = {&kCat1, &kCat2, nullptr};
const _COM_GUID* const kFirst[] = {&kCat1, nullptr};
const _COM_GUID* const kSecond[] = {&kCat2, nullptr};
const _COM_GUID* const* Both() { return kBoth; }
const _COM_GUID* const* First() { return kFirst; }
const _COM_GUID* const* Second() { return kSecond; }

const core::ClassMapEntry kMap[] = {
    {&kClassA, nullptr, RegisterA, Both},
    {&kClassB, nullptr, RegisterB, First},
    {&kClassC, nullptr, nullptr, Second},
    {nullptr, nullptr, nullptr, nullptr},
};

class ClassMapWalkTest : public ModuleCountTest {
protected:
    COM_HRESULT Walk(int32_t flag, COM_HRESULT a, COM_HRESULT b) {
        g_answer[0] = a;
        g_answer[1] = b;
        g_calls.clear();
        return registration::RegisterAllClasses(kMap, flag);
    }
    std::set<std::string> Members(const _COM_GUID& category) {
        Names names = m_root.Names("ComponentCategories\\" + GuidText(category));
        return {names.begin(), names.end()};
    }

    RegistrySandbox m_sandbox;
    ClassRootView m_root{m_sandbox};
};

TEST_F(ClassMapWalkTest, CategoryRecordsFollowTheClasses) {
    ASSERT_EQ(Walk(1, S_OK, S_OK), S_OK);
    EXPECT_EQ(g_calls, (std::vector<int>{0, 1}));
    EXPECT_EQ(Members(kCat1), (std::set<std::string>{GuidText(kClassA), GuidText(kClassB)}));
    EXPECT_EQ(Members(kCat2), (std::set<std::string>{GuidText(kClassA), GuidText(kClassC)}));

    // A class that stays registered keeps every later class's records too.
    EXPECT_EQ(Walk(0, S_FALSE, S_OK), S_OK);
    EXPECT_EQ(Members(kCat1).size(), 2u);
    EXPECT_EQ(Walk(0, S_OK, S_FALSE), S_OK);
    EXPECT_EQ(Members(kCat1), std::set<std::string>{GuidText(kClassB)});
    EXPECT_EQ(Members(kCat2), std::set<std::string>{GuidText(kClassC)});

    // A's records are gone already: their removal fails, the others' not.
    EXPECT_EQ(Walk(0, S_OK, S_OK), S_FALSE);
    EXPECT_TRUE(Members(kCat1).empty());
    EXPECT_TRUE(Members(kCat2).empty());
    EXPECT_TRUE(m_root.Exists("ComponentCategories\\" + GuidText(kCat1))) << "the category key stays";
}

TEST_F(ClassMapWalkTest, EveryClassIsProcessedWhateverFailed) {
    EXPECT_EQ(Walk(1, COM_STATUS_FROM_WIN32(5), S_OK), S_FALSE);
    EXPECT_EQ(g_calls, (std::vector<int>{0, 1}));
    EXPECT_EQ(Members(kCat2).size(), 2u);
    // A registry that cannot be read fails every class of the runtime and
    // every category step.
    SetEnv("COM_VERSION", std::string(70000, 'v').c_str());
    EXPECT_EQ(Walk(1, S_OK, S_OK), S_FALSE);
    EXPECT_EQ(g_calls, (std::vector<int>{0, 1}));
    EXPECT_EQ(DllRegisterServer(), S_FALSE);
    SetEnv("COM_VERSION", m_sandbox.Version().c_str());
}

// The component helper: layout with every optional part, counts, moniker
// items and categories.
class ComponentRegistrationTest : public ClassMapWalkTest {};

const COM_ClassCategory kSampleCategories[] = {{&kCat1, COM_TEXT("Sample category")}, {&kCat2, nullptr}, {}};
const COM_ClassRegistration kSample[] = {
    {&kClassA, COM_TEXT("Sample.A"), COM_TEXT("sub\\sample.dll"), COM_TEXT("Sample A"), COM_TEXT("The first sample"),
     COM_TEXT("sample"), COM_TEXT("one,,two"), kSampleCategories},
    {&kClassB, COM_TEXT("Sample.B"), COM_TEXT("sample.dll"), nullptr, nullptr, COM_TEXT("sample"), nullptr, nullptr},
    {},
};

TEST_F(ComponentRegistrationTest, EveryOptionalPartIsWrittenAndRemoved) {
    const std::string a = "CLSID\\" + GuidText(kClassA), b = "CLSID\\" + GuidText(kClassB);
    // Another library's class keeps the class root at the end.
    m_root.Write("CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}", "", plat::kRegSz, SzBytes("Other"));
    ASSERT_EQ(COM_RegisterComponent(kSample, 1), S_OK);
    ASSERT_EQ(COM_RegisterComponent(kSample, 1), S_OK);
    EXPECT_EQ(m_root.Read(a + "\\InprocServer32")->Text(), "sub\\sample.dll");
    EXPECT_EQ(m_root.Read(a + "\\DisplayName")->Text(), "Sample A");
    EXPECT_EQ(m_root.Read(a + "\\Description")->Text(), "The first sample");
    EXPECT_EQ(m_root.Read(a + "\\InstallCount")->data, DwordBytes(2));
    EXPECT_FALSE(m_root.Exists(b + "\\DisplayName"));
    // Items split at every comma; the empty one names the default value.
    Names items = m_root.Names("Moniker\\sample", true);
    EXPECT_EQ((std::set<std::string>(items.begin(), items.end())), (std::set<std::string>{"one", "", "two"}));
    EXPECT_EQ(m_root.Read("Moniker\\sample", "two")->Text(), GuidText(kClassA));
    EXPECT_EQ(m_root.Read("ComponentCategories\\" + GuidText(kCat1))->Text(), "Sample category");
    EXPECT_FALSE(m_root.Read("ComponentCategories\\" + GuidText(kCat2)).has_value());
    EXPECT_EQ(Members(kCat2), std::set<std::string>{GuidText(kClassA)});

    // The first removal only counts down; the categories stay with it.
    ASSERT_EQ(COM_RegisterComponent(kSample, 0), S_OK);
    EXPECT_EQ(m_root.Read(a + "\\InstallCount")->data, DwordBytes(1));
    EXPECT_EQ(m_root.Names("Moniker\\sample", true).size(), 3u);
    ASSERT_EQ(COM_RegisterComponent(kSample, 0), S_OK);
    EXPECT_FALSE(m_root.Exists(a));
    EXPECT_FALSE(m_root.Exists("Sample.A"));
    EXPECT_TRUE(m_root.Names("Moniker\\sample", true).empty());
    EXPECT_TRUE(Members(kCat1).empty());
    EXPECT_EQ(m_root.Read("ComponentCategories\\" + GuidText(kCat1))->Text(), "Sample category");
    EXPECT_EQ(m_root.Names("CLSID").size(), 1u);
}

TEST_F(ComponentRegistrationTest, ClassEntriesReportTheFailingStep) {
    EXPECT_EQ(COM_RegisterClassEntries(kClassC, COM_TEXT("Sample.C"), 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              kNotFound);
    // No server to write: the steps before it stay done.
    EXPECT_EQ(COM_RegisterClassEntries(kClassC, COM_TEXT("Sample.C"), 1, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_TRUE(m_root.Exists("CLSID\\" + GuidText(kClassC) + "\\InprocServer32"));
    EXPECT_FALSE(m_root.Exists("CLSID\\" + GuidText(kClassC) + "\\InstallCount"));
}

// The registry object's write batch: kept by Commit; dropped by Rollback
// and by the object's release where the store has transactions (Linux); on
// Windows each change already stood.
TEST_F(ComponentRegistrationTest, RegistryBatchKeepsOrDropsItsChanges) {
    const bool undone = HasHiveFiles();
    enum End { kCommit, kRollback, kRelease };
    for (End end : {kCommit, kRollback, kRelease}) {
        SCOPED_TRACE(int(end));
        utlAutoIf<COM_IRegistryBatch> batch;
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistryBatch, batch.PutVoid()), S_OK);
        EXPECT_EQ(batch->Commit(), E_UNEXPECTED);
        EXPECT_EQ(batch->Begin(0), E_INVALIDARG);
        ASSERT_EQ(batch->Begin(COM_REGROOT_CLASSES), S_OK);
        EXPECT_EQ(batch->Begin(COM_REGROOT_CLASSES), COM_STATUS_FROM_WIN32(plat::kErrorBusy));
        const WString key = COM_TEXT("Batch") + W(std::to_string(int(end)));
        utlAutoIf<COM_IRegistry> registry;
        ASSERT_EQ(batch->QueryInterface(COM_IID_IRegistry, registry.PutVoid()), S_OK);
        ASSERT_EQ(registry->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
        ASSERT_EQ(registry->CreateKey(key.c_str(), 0), S_OK);
        if (end == kCommit) {
            EXPECT_EQ(batch->Commit(), S_OK);
        } else if (end == kRollback) {
            EXPECT_EQ(batch->Rollback(), undone ? S_OK : S_FALSE);
        }
        batch.Reset(nullptr);
        registry.Reset(nullptr);
        EXPECT_EQ(m_root.Exists(Narrow(key)), end == kCommit || !undone);
    }
}

} // namespace
} // namespace tavo::test
