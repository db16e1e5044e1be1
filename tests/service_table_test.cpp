// The service table: one object per class and context, for the life of the
// process. Its entries hold references for good, so these tests run in a
// program of their own and do not check the module count per test.
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

// Two interface pointers of one object compare equal as COM_IUnknown.
bool SameObject(COM_IUnknown* a, COM_IUnknown* b) {
    utlAutoIf<COM_IUnknown> ua, ub;
    a->QueryInterface(COM_IID_IUnknown, ua.PutVoid());
    b->QueryInterface(COM_IID_IUnknown, ub.PutVoid());
    return ua.Get() == ub.Get();
}

class ServiceTableTest : public ::testing::Test {
protected:
    RegistrySandbox m_sandbox;
};

TEST_F(ServiceTableTest, SamePairSharesOneObject) {
    utlAutoIf<COM_IRegistry> a, b;
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, 0, COM_IID_IRegistry, a.PutVoid()), S_OK);
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, 0, COM_IID_IRegistry, b.PutVoid()), S_OK);
    EXPECT_EQ(a.Get(), b.Get());

    // A different context is a different pair, so a different object; the
    // negative context's key stays apart from every non-negative one.
    utlAutoIf<COM_IRegistry> c, d, e;
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, 1, COM_IID_IRegistry, c.PutVoid()), S_OK);
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, -1, COM_IID_IRegistry, d.PutVoid()), S_OK);
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, 10, COM_IID_IRegistry, e.PutVoid()), S_OK);
    EXPECT_NE(a.Get(), c.Get());
    EXPECT_NE(c.Get(), d.Get());
    EXPECT_NE(d.Get(), e.Get());
    EXPECT_NE(a.Get(), d.Get());

    // Extremes of the context value each get their own object too.
    utlAutoIf<COM_IRegistry> lo, hi;
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, INT32_MIN, COM_IID_IRegistry, lo.PutVoid()), S_OK);
    ASSERT_EQ(COM_GetService(COM_CLSID_Registry, INT32_MAX, COM_IID_IRegistry, hi.PutVoid()), S_OK);
    EXPECT_NE(lo.Get(), hi.Get());
}

TEST_F(ServiceTableTest, FailedFirstRequestStoresNothing) {
    void* out = kPoison;
    EXPECT_EQ(COM_GetService(COM_CLSID_Memory, 5, COM_IID_IRegistry, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    utlAutoIf<COM_IMemory> memory, again;
    ASSERT_EQ(COM_GetService(COM_CLSID_Memory, 5, COM_IID_IMemory, memory.PutVoid()), S_OK);
    ASSERT_EQ(COM_GetService(COM_CLSID_Memory, 5, COM_IID_IUnknown, again.PutVoid()), S_OK);
    EXPECT_TRUE(SameObject(memory.Get(), again.Get()));

    // A stored object asked for an interface it lacks: E_NOINTERFACE and a
    // null pointer; the entry stays.
    out = kPoison;
    EXPECT_EQ(COM_GetService(COM_CLSID_Memory, 5, COM_IID_IRegistry, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    utlAutoIf<COM_IMemory> third;
    ASSERT_EQ(COM_GetService(COM_CLSID_Memory, 5, COM_IID_IMemory, third.PutVoid()), S_OK);
    EXPECT_EQ(third.Get(), memory.Get());
}

TEST_F(ServiceTableTest, UnknownClassFailsLikeActivation) {
    const _COM_GUID unknown = {0x0BADC0DE, 1, 1, {}};
    void* out = kPoison;
    EXPECT_EQ(COM_GetService(unknown, 0, COM_IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kPoison);
    COM_ClearErrorInfo();
}

// Runs last in this program: every entry keeps the library in use.
TEST_F(ServiceTableTest, ZzTableKeepsTheLibraryInUse) {
    {
        utlAutoIf<COM_IRegistry> shared;
        ASSERT_EQ(COM_GetService(COM_CLSID_Registry, 0, COM_IID_IRegistry, shared.PutVoid()), S_OK);
    }
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
}

} // namespace
} // namespace tavo::test
