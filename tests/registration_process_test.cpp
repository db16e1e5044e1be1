// Registration seen from other processes: the platform's own registration
// and registry tools (Windows), and two processes registering at once.
#include "class_root_view.h"
#include "support/dynamic_library.h"
#include "support/test_support.h"

#include <algorithm>

namespace tavo::test {
namespace {

constexpr uint32_t kRounds = 100;
constexpr uint32_t kCycles = 1000;

// The library's path as the platform's programs take it.
std::string LibraryPathForPrograms() {
    std::string path = BinaryDirectory() + "/" + TAVOCOM_LIBRARY_FILE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path[0] == '\\' ? "Z:" + path : path;
}

class RegistrationProcessTest : public ModuleCountTest {
protected:
    // Every key of the layout is there, with its type and the install count.
    void ExpectConsistent(uint32_t installs) {
        for (const LibraryClass& c : kLibraryClasses) {
            SCOPED_TRACE(c.progid);
            const std::string key = "CLSID\\" + GuidText(*c.clsid);
            auto count = m_root.Read(key + "\\InstallCount");
            ASSERT_TRUE(count.has_value());
            ASSERT_EQ(count->type, plat::kRegDword);
            ASSERT_EQ(count->data.size(), 4u);
            uint32_t n = 0;
            std::copy(count->data.begin(), count->data.end(), reinterpret_cast<char*>(&n));
            EXPECT_EQ(n, installs);
            EXPECT_EQ(m_root.Read(key)->Text(), c.progid);
            EXPECT_EQ(m_root.Read(key + "\\ProgID")->Text(), c.progid);
            EXPECT_EQ(m_root.Read(key + "\\InprocServer32")->Text(), TAVOCOM_LIBRARY_FILE);
            EXPECT_EQ(m_root.Read(std::string(c.progid) + "\\CLSID")->Text(), GuidText(*c.clsid));
        }
        EXPECT_EQ(m_root.Read("Moniker\\hresult")->Text(), GuidText(COM_CLSID_HResultDecoderBinder));
    }

    // Two copies of this program running the tests that `filter` selects.
    // The hive exists before they start: the first write to a hive that two
    // processes make at once is the store's case, not registration's.
    void RunTwoCopies(const std::string& filter) {
        plat::RegKey key;
        ASSERT_EQ(plat::RegCreateKeyExA(plat::kHKeyLocalMachine, "Software", plat::kKeyAllAccess, key.Put(), nullptr), 0u);
        EXPECT_EQ(RunSelfConcurrently(filter, 2), (std::vector<int>{0, 0}));
    }

    RegistrySandbox m_sandbox;
    ClassRootView m_root{m_sandbox};
};

// The platform's regsvr32 passes the status 1 of a failed class as success;
// the entries it made serve activation and the lookups.
TEST_F(RegistrationProcessTest, PlatformRegistrationToolRegistersTheLibrary) {
    std::string output;
    int code = RunPlatformProgram("regsvr32.exe /s \"" + LibraryPathForPrograms() + "\"", &output);
    if (code == -1) GTEST_SKIP() << "this platform has no registration tool of its own to compare with";
    ASSERT_EQ(code, 0) << output;
    ExpectConsistent(1);
    for (const LibraryClass& c : kLibraryClasses) {
        _COM_GUID clsid{};
        ASSERT_EQ(COM_GetCLSIDFromProgID(W(c.progid).c_str(), &clsid), S_OK);
        utlAutoIf<COM_IUnknown> object;
        EXPECT_EQ(COM_CreateInstance(clsid, 0, COM_IID_IUnknown, object.PutVoid()), S_OK) << c.progid;
    }

    // The platform's registry tool shows the layout with its types.
    const std::string memory = "HKLM\\" + m_root.Full("CLSID\\" + GuidText(COM_CLSID_Memory));
    ASSERT_EQ(RunPlatformProgram("reg.exe query \"" + memory + "\" /s", &output), 0) << output;
    for (const char* expected : {"TelvaCom.Memory", "\\InprocServer32", "\\ProgID", "\\InstallCount", "REG_SZ",
                                 "REG_DWORD", "0x1", TAVOCOM_LIBRARY_FILE})
        EXPECT_NE(output.find(expected), std::string::npos) << expected << " missing in\n" << output;
    const std::string hresult = "HKLM\\" + m_root.Full("Moniker\\hresult");
    ASSERT_EQ(RunPlatformProgram("reg.exe query \"" + hresult + "\" /ve", &output), 0) << output;
    EXPECT_NE(output.find(GuidText(COM_CLSID_HResultDecoderBinder)), std::string::npos) << output;

    // Removing the last classes ends in status 1 (the binder's step finds
    // no value once the root went); the tool still exits 0.
    ASSERT_EQ(RunPlatformProgram("regsvr32.exe /s /u \"" + LibraryPathForPrograms() + "\"", &output), 0) << output;
    EXPECT_EQ(m_root.Names(""), std::vector<std::string>{"Moniker"});
}

TEST(RegistrationChild, RegistersRepeatedly) {
    if (!IsTestChild()) GTEST_SKIP() << "runs in the copies that TwoProcessesRegisterAtOnce starts";
    for (uint32_t i = 0; i < kRounds; ++i) ASSERT_EQ(DllRegisterServer(), S_OK);
}

// Each copy registers a component of its own, with a class of its own, and
// removes it again: every registration that returned must be there.
TEST(RegistrationChild, CyclesItsOwnComponent) {
    if (!IsTestChild()) GTEST_SKIP() << "runs in the copies that TwoProcessesCycleTheirComponents starts";
    _COM_GUID clsid{};
    ASSERT_EQ(COM_GenerateCLSID(&clsid), S_OK);
    const WString progid = W("TavoTest.Cycle." + GuidText(clsid).substr(1, 8));
    const COM_ClassRegistration component[] = {
        {&clsid, progid.c_str(), COM_TEXT("cycle.dll"), nullptr, nullptr, nullptr, nullptr, nullptr}, {}};
    for (uint32_t i = 0; i < kCycles; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(COM_RegisterComponent(component, 1), S_OK);
        _COM_GUID found{};
        utlAutoBstr text;
        ASSERT_EQ(COM_GetCLSIDFromProgID(progid.c_str(), &found), S_OK);
        ASSERT_EQ(found, clsid);
        ASSERT_EQ(COM_GetProgIDFromClsid(clsid, text.Put()), S_OK);
        ASSERT_EQ(COM_RegisterComponent(component, 0), S_OK);
    }
}

// Each registration is one transaction of the store (on Windows: the
// batches of all processes take turns), so no increment is lost.
TEST_F(RegistrationProcessTest, TwoProcessesRegisterAtOnce) {
    RunTwoCopies("RegistrationChild.RegistersRepeatedly");
    ExpectConsistent(2 * kRounds);
}

// The removal of the last class counts the class keys and deletes the root
// in the same transaction, so it never takes a registration that another
// process completed in between.
TEST_F(RegistrationProcessTest, TwoProcessesCycleTheirComponents) {
    RunTwoCopies("RegistrationChild.CyclesItsOwnComponent");
    EXPECT_TRUE(m_root.Names("CLSID").empty());
}

} // namespace
} // namespace tavo::test
