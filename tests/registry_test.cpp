// The registry service as a client sees it, against the platform registry
// (Windows build) and the registry store (Linux build).
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "registry_fixture.h"

namespace tavo::test {
namespace {

const COM_HRESULT kNotFound = COM_STATUS_FROM_WIN32(2);
const COM_HRESULT kAccessDenied = COM_STATUS_FROM_WIN32(5);
const COM_HRESULT kInvalidParameter = COM_STATUS_FROM_WIN32(87);
const COM_HRESULT kBadPathname = COM_STATUS_FROM_WIN32(161);
const COM_HRESULT kMoreData = COM_STATUS_FROM_WIN32(234);
const COM_HRESULT kKeyDeleted = COM_STATUS_FROM_WIN32(1018);
const COM_HRESULT kNameTooLong = COM_STATUS_FROM_WIN32(206);

using RegistryRootTest = RegistryTest;
using RegistryObjectTest = RegistryTest;

// Each selector lands where the maker's key (selector 4) says it should.
TEST_F(RegistryRootTest, SelectorsOpenTheirHivesAndPaths) {
    const char* markers[] = {nullptr, "classes", "user", "machine", "vendor", "appdata"};
    for (uint32_t root = 1; root <= 5; ++root) {
        OpenRoot(root);
        ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("marker"), W(markers[root]).c_str()), S_OK);
    }
    OpenRoot(COM_REGROOT_MACHINE);
    EXPECT_EQ(ReadString(Reg(), "marker"), "machine");
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("Classes")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "classes");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, COM_TEXT("ApplicationData")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "appdata");
    OpenRoot(COM_REGROOT_USER_VENDOR);
    EXPECT_EQ(ReadString(Reg(), "marker"), "vendor");
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("ApplicationData")), kNotFound) << "the hives are distinct";
    ASSERT_EQ(Reg()->OpenKey(W(m_sandbox->Version()).c_str()), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "user");
    OpenRoot(COM_REGROOT_USER_VENDOR);
    ASSERT_EQ(Reg()->DeleteValue(COM_TEXT("marker")), S_OK);
}

// Unset or empty COM_VERSION means the default key; backslashes make a deeper path.
TEST_F(RegistryRootTest, VersionKeyFromTheEnvironment) {
    const std::string probe = "probe-" + m_sandbox->Version(), deeper = m_sandbox->Version() + "\\Deeper";
    struct Case {
        const char* env;
        std::string path;
    } cases[] = {{nullptr, "TAVO-2024.1"}, {"", "TAVO-2024.1"}, {deeper.c_str(), deeper}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetEnv("COM_VERSION", c.env);
        OpenRoot(COM_REGROOT_USER);
        ASSERT_EQ(Reg()->CreateKey(W(probe).c_str(), 0), S_OK);
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, W(c.path).c_str()), S_OK);
        EXPECT_EQ(Reg()->DeleteKey(W(probe).c_str()), S_OK);
    }
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
}

// A COM_VERSION that fits the read but not the registry fails Open there and
// leaves no current key; one too long for the read (65,535 characters or more,
// Linux only: Windows keeps no such environment values) keeps the current key.
TEST_F(RegistryRootTest, OverlongVersion) {
    uint32_t v = 0;
    OpenRoot(COM_REGROOT_USER);
    SetEnv("COM_VERSION", std::string(300, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kMoreData);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("kept"), &v), E_FAIL);
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
    if (!HiveFilesAvailable()) GTEST_SKIP() << "environment values are limited to 32,767 characters here";
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("kept"), 1), S_OK);
    SetEnv("COM_VERSION", std::string(65535, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kNameTooLong);
    SetEnv("COM_VERSION", std::string(70000, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kNameTooLong);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("kept"), &v), S_OK);
    EXPECT_EQ(v, 1u);
    SetEnv("COM_VERSION", std::string(65534, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kInvalidParameter);
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
}

TEST_F(RegistryRootTest, BadSelectorKeepsTheKeyMissingSubkeyDropsIt) {
    OpenRoot(COM_REGROOT_USER);
    for (uint32_t bad : {0u, 6u, 0xFFFFFFFFu}) EXPECT_EQ(Reg()->Open(bad, COM_TEXT("x")), E_INVALIDARG) << bad;
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("still"), 3), S_OK);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), kNotFound);
    COM_BSTR text = static_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT(""), &text), E_FAIL);
    EXPECT_EQ(text, kPoison);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("")), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("CLSID"), 0), S_OK);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("clsid")), S_OK);
}

// Without write rights on the machine hive Open falls back to reading and
// every change is refused (arranged on Linux only, by file permissions).
TEST_F(RegistryRootTest, ReadOnlyMachineHiveFallsBackToRead) {
    if (!HiveFilesAvailable()) GTEST_SKIP() << "write rights to HKEY_LOCAL_MACHINE cannot be withdrawn here";
    namespace fs = std::filesystem;
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("CLSID"), 1), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("before")), S_OK);
    ASSERT_EQ(Reg()->Close(), S_OK);
    const std::string file = HiveFile("machine.db");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), S_OK);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("after")), kAccessDenied);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("new"), 0), kAccessDenied);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("")), kAccessDenied);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("missing")), kNotFound);
    EXPECT_EQ(ReadString(Reg(), ""), "before");
    EXPECT_EQ(Reg()->Open(COM_REGROOT_APPDATA, nullptr), kNotFound) << "an absent root cannot be made";
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), S_OK);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("after")), S_OK);
}

TEST_F(RegistryObjectTest, NoCurrentKeyFailsEveryKeyOperation) {
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(Reg()->OpenKey(COM_TEXT("a")), E_FAIL);
        EXPECT_EQ(Reg()->CreateKey(COM_TEXT("a"), 1), E_FAIL);
        EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("a")), E_FAIL);
        EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("a"), COM_TEXT("b")), E_FAIL);
        EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("a"), 1), E_FAIL);
        EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("a")), E_FAIL);
        COM_BSTR text = static_cast<COM_BSTR>(kPoison);
        uint32_t v = 0xABCD;
        COM_IEnumBSTR* e = static_cast<COM_IEnumBSTR*>(kPoison);
        EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("a"), &text), E_FAIL);
        EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("a"), &v), E_FAIL);
        EXPECT_EQ(Reg()->EnumKeys(&e), E_FAIL);
        EXPECT_EQ(Reg()->EnumValues(&e), E_FAIL);
        EXPECT_TRUE(text == kPoison && v == 0xABCDu && e == kPoison);
        OpenRoot(COM_REGROOT_USER);
        EXPECT_EQ(Reg()->Close(), S_OK);
        EXPECT_EQ(Reg()->Close(), S_OK);
    }
}

TEST_F(RegistryObjectTest, StringAndDWordValues) {
    OpenRoot(COM_REGROOT_USER);
    uint32_t v = 0;
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("abc")), S_OK);
    ASSERT_EQ(Reg()->GetDWordValue(COM_TEXT(""), &v), S_OK) << "\"abc\" and its terminator: four bytes";
    EXPECT_EQ(v, 0x00636261u);
    utlAutoBstr text;
    ASSERT_EQ(Reg()->GetStringValue(nullptr, text.Put()), S_OK) << "null names the default value";
    EXPECT_EQ(FromBstr(text.Get()), W("abc")) << "the length counts the characters only";
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("empty"), COM_TEXT("")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "empty"), "");
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("latin"), W("Grüße à la carte").c_str()), S_OK);
    EXPECT_EQ(ReadString(Reg(), "LATIN"), "Grüße à la carte");
    COM_BSTR missing = static_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("missing"), &missing), kNotFound);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("x"), nullptr), E_INVALIDARG);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("x"), nullptr), E_POINTER);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("n"), nullptr), E_POINTER);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("n"), 0x00434241), S_OK);
    EXPECT_EQ(ReadString(Reg(), "N"), "ABC") << "a number read as text: its bytes up to the first zero";

    v = 0x12345678;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("missing"), &v), kNotFound);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("long"), COM_TEXT("abcd")), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("long"), &v), kMoreData);
    EXPECT_EQ(v, 0x12345678u);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("short"), COM_TEXT("a")), S_OK);
    v = 0x11111111;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("short"), &v), S_OK);
    EXPECT_EQ(v, 0x11110061u) << "short data fills the first bytes only";
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("long"), 5), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("long"), &v), S_OK);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("LONG")), S_OK);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("long")), kNotFound);
}

TEST_F(RegistryObjectTest, CreateOpenAndDeleteKeys) {
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("stay"), 0), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("at-root"), 1), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("A\\B"), 1), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("in-b"), 2), S_OK);
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"A", "stay"}));
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("A\\missing")), kNotFound);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("at-root"), &v), S_OK) << "a failed OpenKey keeps the key";
    // Creating an existing key opens it; trailing and doubled separators add no level.
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("a\\\\B\\"), 1), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("in-b"), &v), S_OK);
    EXPECT_EQ(v, 2u);
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("\\lead"), 1), kBadPathname);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("\\A")), kBadPathname);
    EXPECT_EQ(Reg()->OpenKey(nullptr), E_INVALIDARG);
    EXPECT_EQ(Reg()->CreateKey(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(Reg()->DeleteKey(nullptr), E_INVALIDARG);
    // DeleteKey removes a whole tree, deep and wide.
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("A\\B\\C\\D"), 1), S_OK);
    for (int level = 0; level < 40; ++level) {
        for (const char* c : {"x", "y"}) ASSERT_EQ(Reg()->CreateKey(W(c).c_str(), 0), S_OK);
        ASSERT_EQ(Reg()->CreateKey(COM_TEXT("deeper"), 1), S_OK);
        ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("level"), COM_TEXT("x")), S_OK);
    }
    // A name within the limit of 255 characters takes up to three times as
    // many bytes in a multi-byte code page.
    std::string euros;
    for (int i = 0; i < 255; ++i) euros += "\xE2\x82\xAC";
    ASSERT_EQ(Reg()->CreateKey(W(euros + "\\leaf").c_str(), 0), S_OK);
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("a")), S_OK);
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{"stay"});
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("A")), kNotFound);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("stay\\missing")), kNotFound);
}

TEST_F(RegistryObjectTest, NamesAreCaseInsensitiveAndPlainText) {
    OpenRoot(COM_REGROOT_USER);
    for (const char* n : {"Äpfel", "a_c", "100%"}) ASSERT_EQ(Reg()->CreateKey(W(n).c_str(), 0), S_OK);
    for (const char* n : {"abc", "100", "100x"}) EXPECT_EQ(Reg()->OpenKey(W(n).c_str()), kNotFound) << "no wildcards";
    ASSERT_EQ(Reg()->CreateKey(W("ÄPFEL").c_str(), 0), S_OK) << "opens the existing key";
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"100%", "a_c", "Äpfel"})) << "case preserved";
    ASSERT_EQ(Reg()->OpenKey(W("äPFEL").c_str()), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(W("Größe").c_str(), COM_TEXT("1")), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(W("GRÖSSE").c_str(), COM_TEXT("2")), S_OK) << "ß has no simple upper case";
    ASSERT_EQ(Reg()->SetStringValue(W("gRÖßE").c_str(), COM_TEXT("3")), S_OK);
    EXPECT_EQ(ValueNames(Reg()), (std::vector<std::string>{"GRÖSSE", "Größe"}));
    EXPECT_EQ(ReadString(Reg(), "GRÖßE"), "3");
}

// Subkeys and values by lower-case form, a prefix before longer names, the
// default value first; a replaced value keeps its place, its new case shows.
TEST_F(RegistryObjectTest, EnumerationOrder) {
    OpenRoot(COM_REGROOT_USER);
    const char* names[] = {"b", "_x", "A", "a2", "Zed", "~t", "%p", "B1", "ä", "Äb", "z"};
    for (const char* n : names) ASSERT_EQ(Reg()->CreateKey(W(n).c_str(), 0), S_OK) << n;
    for (const char* n : names) ASSERT_EQ(Reg()->SetDWordValue(W(n).c_str(), 1), S_OK) << n;
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("d")), S_OK);
    std::vector<std::string> values = {"", "%p", "_x", "A", "a2", "b", "B1", "z", "Zed", "~t", "ä", "Äb"};
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>(values.begin() + 1, values.end()));
    EXPECT_EQ(ValueNames(Reg()), values);
    ASSERT_EQ(Reg()->DeleteValue(COM_TEXT("A")), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("a"), 2), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("ZED"), 2), S_OK);
    values[3] = "a";
    EXPECT_EQ(ValueNames(Reg()), values);
}

TEST_F(RegistryObjectTest, NameLimits) {
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->CreateKey(W(std::string(255, 'k')).c_str(), 0), S_OK);
    // 256 is still taken, as the Windows build's registry takes it.
    ASSERT_EQ(Reg()->CreateKey(W(std::string(256, 'k')).c_str(), 0), S_OK);
    EXPECT_EQ(Reg()->OpenKey(W(std::string(256, 'k')).c_str()), S_OK);
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->DeleteKey(W(std::string(256, 'k')).c_str()), S_OK);
    EXPECT_EQ(Reg()->CreateKey(W(std::string(257, 'k')).c_str(), 0), kInvalidParameter);
    EXPECT_EQ(Reg()->OpenKey(W(std::string(257, 'k')).c_str()), kInvalidParameter);
    EXPECT_EQ(Reg()->CreateKey(W("a\\" + std::string(259, 'k')).c_str(), 0), kMoreData) << "whole name too long";
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{std::string(255, 'k')}) << "never truncated";
    const std::string longest(16383, 'v');
    uint32_t v = 0;
    ASSERT_EQ(Reg()->SetDWordValue(W(longest).c_str(), 1), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(W(longest).c_str(), &v), S_OK);
    EXPECT_EQ(Reg()->SetDWordValue(W(longest + "v").c_str(), 1), kInvalidParameter);
    EXPECT_EQ(Reg()->GetDWordValue(W(longest + "v").c_str(), &v), kNotFound);
    EXPECT_EQ(ValueNames(Reg()), std::vector<std::string>{longest});
}

// Deleting the current key leaves a handle, also in a second object, that fails
// with the deleted-key error until Open or Close; a key made again is new.
TEST_F(RegistryObjectTest, DeletedCurrentKey) {
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("doomed\\child"), 0), S_OK);
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("doomed")), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), S_OK);
    utlAutoIf<COM_IRegistry> other = NewRegistry();
    ASSERT_EQ(other->Open(COM_REGROOT_USER, COM_TEXT("doomed")), S_OK);
    ASSERT_EQ(Reg()->DeleteKey(COM_TEXT("")), S_OK);
    uint32_t v = 0;
    COM_IEnumBSTR* e = static_cast<COM_IEnumBSTR*>(kPoison);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("v"), &v), kKeyDeleted);
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), kKeyDeleted);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("v")), kKeyDeleted);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("new"), 0), kKeyDeleted);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("child")), kKeyDeleted);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("")), kKeyDeleted);
    EXPECT_EQ(Reg()->EnumKeys(&e), kKeyDeleted);
    EXPECT_EQ(e, kPoison);
    EXPECT_EQ(other->SetStringValue(COM_TEXT("v"), COM_TEXT("x")), kKeyDeleted);
    EXPECT_EQ(Reg()->Close(), S_OK);
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), E_FAIL);
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("doomed"), 0), S_OK);
    EXPECT_EQ(other->GetDWordValue(COM_TEXT("v"), &v), kKeyDeleted);
}

// Objects on several threads, on keys of their own and one shared key.
TEST_F(RegistryObjectTest, ObjectsOnSeveralThreads) {
    constexpr int kThreads = 4, kWrites = 40;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            utlAutoIf<COM_IRegistry> r = NewRegistry();
            for (int i = 0; r && i < kWrites; ++i) {
                const std::string key = "t" + std::to_string(t) + "\\k" + std::to_string(i);
                failures[t] += r->Open(COM_REGROOT_USER, nullptr) != S_OK;
                failures[t] += r->CreateKey(W(key).c_str(), 1) != S_OK;
                failures[t] += r->SetDWordValue(COM_TEXT("i"), uint32_t(i)) != S_OK;
                failures[t] += r->Open(COM_REGROOT_USER, COM_TEXT("")) != S_OK;
                failures[t] += r->CreateKey(COM_TEXT("shared"), 1) != S_OK;
                failures[t] += r->SetStringValue(W(key).c_str(), COM_TEXT("x")) != S_OK;
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, COM_TEXT("shared")), S_OK);
    EXPECT_EQ(ValueNames(Reg()).size(), size_t(kThreads * kWrites));
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, W("t" + std::to_string(t)).c_str()), S_OK);
        EXPECT_EQ(KeyNames(Reg()).size(), size_t(kWrites));
    }
}

} // namespace
} // namespace tavo::test
