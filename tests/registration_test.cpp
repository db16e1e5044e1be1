// Self-registration of the library's four classes: the layout it writes,
// install counts, removal, and the documented odd outcomes.
#include "class_root_view.h"
#include "support/test_support.h"

#include <algorithm>
#include <set>

namespace tavo::test {
namespace {

using Names = std::vector<std::string>;


std::set<std::string> Set(const Names& names) { return {names.begin(), names.end()}; }

class RegistrationTest : public ModuleCountTest {
protected:
    void ExpectValue(const std::string& key, const char* name, uint32_t type, const std::string& bytes) {
        SCOPED_TRACE(key + " value '" + name + "'");
        auto value = m_root.Read(key, name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, type);
        EXPECT_EQ(value->data, bytes);
    }
    // The layout of one class: every key and value, with its type.
    void ExpectClass(const LibraryClass& c, uint32_t installs) {
        const std::string key = "CLSID\\" + GuidText(*c.clsid);
        ExpectValue(key, "", plat::kRegSz, SzBytes(c.progid));
        EXPECT_EQ(m_root.Names(key, true), Names{""}) << "the class key has only its default value";
        EXPECT_EQ(Set(m_root.Names(key)), (std::set<std::string>{"InprocServer32", "InstallCount", "ProgID"}));
        // The library's file name, never a directory.
        ExpectValue(key + "\\InprocServer32", "", plat::kRegSz, SzBytes(TAVOCOM_LIBRARY_FILE));
        ExpectValue(key + "\\ProgID", "", plat::kRegSz, SzBytes(c.progid));
        ExpectValue(key + "\\InstallCount", "", plat::kRegDword, DwordBytes(installs));
        ExpectValue(std::string(c.progid) + "\\CLSID", "", plat::kRegSz, SzBytes(GuidText(*c.clsid)));
    }
    void ExpectAllClasses(uint32_t installs) {
        for (const LibraryClass& c : kLibraryClasses) ExpectClass(c, installs);
        ExpectValue("Moniker\\hresult", "", plat::kRegSz, SzBytes(GuidText(COM_CLSID_HResultDecoderBinder)));
        EXPECT_EQ(m_root.Names("CLSID").size(), 4u);
    }
    std::string ClassKey(const _COM_GUID& clsid) { return "CLSID\\" + GuidText(clsid); }

    RegistrySandbox m_sandbox;
    ClassRootView m_root{m_sandbox};
};

TEST_F(RegistrationTest, CountsGoUpAndDownAndTheLastRemovalTakesTheRoot) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectAllClasses(1);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ExpectAllClasses(2);
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    ExpectAllClasses(1);

    // The last class's removal deletes the class root; the binder's step
    // then re-creates empty Moniker\hresult keys and its DeleteValue fails.
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    EXPECT_EQ(m_root.Names(""), Names{"Moniker"});
    EXPECT_EQ(m_root.Names("Moniker"), Names{"hresult"});
    EXPECT_TRUE(m_root.Names("Moniker\\hresult", true).empty());

    // Unregistering again: every class fails at its class key, and an empty
    // CLSID key is left behind.
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    EXPECT_TRUE(m_root.Exists("CLSID"));
    EXPECT_TRUE(m_root.Names("CLSID").empty());
}

TEST_F(RegistrationTest, OtherLibrariesClassesKeepTheRoot) {
    const std::string other = "CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}";
    m_root.Write(other + "\\InprocServer32", "", plat::kRegSz, SzBytes("other.dll"));
    m_root.Write("Moniker\\hresult", "6F", plat::kRegSz, SzBytes("{0F0F0F0F-1111-2222-3333-444444444444}"));
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(m_root.Names("CLSID"), Names{other.substr(6)});
    EXPECT_EQ(Set(m_root.Names("")), (std::set<std::string>{"CLSID", "Moniker"}));
    // Only the binder's default value goes; facility entries stay.
    EXPECT_EQ(m_root.Names("Moniker\\hresult", true), Names{"6F"});
}

// An InstallCount that is missing or cannot be read as a number counts as
// zero: registration makes it 1, unregistration removes the class.
TEST_F(RegistrationTest, UnreadableInstallCountsCountAsZero) {
    const std::string count = ClassKey(COM_CLSID_Memory) + "\\InstallCount";
    struct Case {
        const char* what;
        uint32_t type;
        std::string bytes; // empty: the value is removed
    };
    const Case cases[] = {
        {"missing", 0, ""},
        {"a text", plat::kRegSz, SzBytes("three registrations")},
        {"eight bytes", plat::kRegBinary, std::string(8, '\x07')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(DllRegisterServer(), S_OK);
        auto corrupt = [&] {
            if (c.bytes.empty())
                m_root.DeleteValue(count, "");
            else
                m_root.Write(count, "", c.type, c.bytes);
        };
        corrupt();
        ASSERT_EQ(DllRegisterServer(), S_OK);
        ExpectValue(count, "", plat::kRegDword, DwordBytes(1));
        ExpectValue(ClassKey(COM_CLSID_Registry) + "\\InstallCount", "", plat::kRegDword, DwordBytes(2));
        corrupt();
        ASSERT_EQ(DllUnregisterServer(), S_OK);
        EXPECT_FALSE(m_root.Exists(ClassKey(COM_CLSID_Memory)));
        EXPECT_FALSE(m_root.Exists("TelvaCom.Memory"));
        ExpectValue(ClassKey(COM_CLSID_Registry) + "\\InstallCount", "", plat::kRegDword, DwordBytes(1));
        ASSERT_EQ(DllUnregisterServer(), S_FALSE); // the root goes, as above
    }
}

TEST_F(RegistrationTest, MissingProgIDKeyFailsAfterTheClassKeyWentAway) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    m_root.DeleteLeafKey("TelvaCom.Memory\\CLSID");
    m_root.DeleteLeafKey("TelvaCom.Memory");
    EXPECT_EQ(DllUnregisterServer(), S_FALSE);
    EXPECT_FALSE(m_root.Exists(ClassKey(COM_CLSID_Memory)));
    EXPECT_FALSE(m_root.Exists("TelvaCOM.Registry"));
}

} // namespace
} // namespace tavo::test
