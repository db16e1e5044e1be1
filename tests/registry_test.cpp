// The registry service as a client sees it: roots, the registry object and
// the name limits and order of the registry beneath it. The same sources
// run against the platform registry (Windows build) and the registry store
// (Linux build).
#include <cstring>
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

// --- roots -----------------------------------------------------------------

// Each selector lands where the maker's key (selector 4) says it should.
TEST_F(RegistryRootTest, SelectorsOpenTheirHivesAndPaths) {
    const char* markers[] = {nullptr, "classes", "user", "machine", "vendor", "appdata"};
    for (uint32_t root = 1; root <= 5; ++root) {
        ASSERT_EQ(Reg()->Open(root, nullptr), S_OK) << root;
        ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("marker"), W(markers[root]).c_str()), S_OK);
    }
    const std::string version = m_sandbox->Version();
    // Machine hive: version key, Classes and ApplicationData below it.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "machine");
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("Classes")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "classes");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, COM_TEXT("ApplicationData")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "appdata");
    // User hive: the maker's key, the version key below it.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, nullptr), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "vendor");
    ASSERT_EQ(Reg()->OpenKey(W(version).c_str()), S_OK);
    EXPECT_EQ(ReadString(Reg(), "marker"), "user");
    // The two hives are distinct.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, nullptr), S_OK);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("ApplicationData")), kNotFound);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, nullptr), S_OK);
    ASSERT_EQ(Reg()->DeleteValue(COM_TEXT("marker")), S_OK);
}

// Unset and empty COM_VERSION both mean the default version key. Only a
// key of our own is made (and removed) below it.
TEST_F(RegistryRootTest, UnsetOrEmptyVersionMeansDefault) {
    const std::string probe = "probe-" + m_sandbox->Version();
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        SetEnv("COM_VERSION", value);
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
        ASSERT_EQ(Reg()->CreateKey(W(probe).c_str(), 0), S_OK);
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, nullptr), S_OK);
        EXPECT_EQ(Reg()->OpenKey(W("TAVO-2024.1\\" + probe).c_str()), S_OK);
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, W("TAVO-2024.1").c_str()), S_OK);
        EXPECT_EQ(Reg()->DeleteKey(W(probe).c_str()), S_OK);
    }
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
}

// A value with backslashes is a deeper path; the selector 4 key ignores it.
TEST_F(RegistryRootTest, VersionWithBackslashesIsADeeperPath) {
    SetEnv("COM_VERSION", (m_sandbox->Version() + "\\Deeper").c_str());
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("deep"), 7), S_OK);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER_VENDOR, W(m_sandbox->Version() + "\\Deeper").c_str()), S_OK);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("deep"), &v), S_OK);
    EXPECT_EQ(v, 7u);
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
}

// A COM_VERSION that fits the read but makes a path beyond the platform's
// limit fails Open there; one too long for the read (65,535 characters or
// more) fails Open before anything changes. Windows keeps no environment
// values that long, so the second half runs on the Linux build only.
TEST_F(RegistryRootTest, OverlongVersion) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    SetEnv("COM_VERSION", std::string(300, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kMoreData);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("kept"), &v), E_FAIL) << "a failed Open leaves no current key";
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
    if (!HiveFilesAvailable()) GTEST_SKIP() << "environment values are limited to 32,767 characters here";

    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("kept"), 1), S_OK);
    SetEnv("COM_VERSION", std::string(65535, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kNameTooLong);
    SetEnv("COM_VERSION", std::string(70000, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kNameTooLong);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("kept"), &v), S_OK) << "the current key stays open";
    EXPECT_EQ(v, 1u);
    SetEnv("COM_VERSION", std::string(65534, 'v').c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), kInvalidParameter) << "fits the read, not the registry";
    SetEnv("COM_VERSION", m_sandbox->Version().c_str());
}

TEST_F(RegistryRootTest, SelectorOutOfRangeChangesNothing) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    for (uint32_t bad : {0u, 6u, 0xFFFFFFFFu}) EXPECT_EQ(Reg()->Open(bad, COM_TEXT("x")), E_INVALIDARG) << bad;
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("still"), 3), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("child"), 1), S_OK);
}

TEST_F(RegistryRootTest, MissingSubkeyLeavesNoCurrentKey) {
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), kNotFound);
    COM_BSTR text = static_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT(""), &text), E_FAIL);
    EXPECT_EQ(text, kPoison);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("x")), E_FAIL);
    // The root path was created by the attempt; the subkey opens once made.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("")), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("CLSID"), 0), S_OK);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("clsid")), S_OK);
}

// Without write rights on the machine hive, Open reads the existing root
// and every change through it is refused. Arranged on Linux with a hive
// file that has no write permission; the Windows build cannot take such
// rights away from the test and skips.
TEST_F(RegistryRootTest, ReadOnlyMachineHiveFallsBackToRead) {
    if (!HiveFilesAvailable()) GTEST_SKIP() << "write rights to HKEY_LOCAL_MACHINE cannot be withdrawn here";
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("CLSID"), 1), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("before")), S_OK);
    ASSERT_EQ(Reg()->Close(), S_OK);
    const std::string file = HiveFile("machine.db");
    namespace fs = std::filesystem;
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), S_OK);
    EXPECT_EQ(ReadString(Reg(), ""), "before");
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("after")), kAccessDenied);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("new"), 0), kAccessDenied);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("")), kAccessDenied);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("missing")), kNotFound);
    EXPECT_EQ(ReadString(Reg(), ""), "before");
    // A root that does not exist cannot be made or read.
    EXPECT_EQ(Reg()->Open(COM_REGROOT_APPDATA, nullptr), kNotFound);
    EXPECT_EQ(Reg()->Close(), S_OK);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    // Write rights back: the next Open writes again.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), S_OK);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("after")), S_OK);
}

// --- the object --------------------------------------------------------------

TEST_F(RegistryObjectTest, AnswersItsInterfacesOnly) {
    void* out = kPoison;
    ASSERT_EQ(Reg()->QueryInterface(COM_IID_IUnknown, &out), S_OK);
    EXPECT_EQ(static_cast<COM_IUnknown*>(out), static_cast<COM_IUnknown*>(Reg()));
    static_cast<COM_IUnknown*>(out)->Release();
    out = kPoison;
    EXPECT_EQ(Reg()->QueryInterface(COM_IID_IEnumBSTR, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = kPoison;
    EXPECT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IMemory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(RegistryObjectTest, NoCurrentKeyFailsEveryKeyOperation) {
    auto check = [&] {
        EXPECT_EQ(Reg()->OpenKey(COM_TEXT("a")), E_FAIL);
        EXPECT_EQ(Reg()->CreateKey(COM_TEXT("a"), 1), E_FAIL);
        EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("a")), E_FAIL);
        EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("a"), COM_TEXT("b")), E_FAIL);
        COM_BSTR text = static_cast<COM_BSTR>(kPoison);
        EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("a"), &text), E_FAIL);
        EXPECT_EQ(text, kPoison);
        EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("a"), 1), E_FAIL);
        uint32_t v = 0xABCD;
        EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("a"), &v), E_FAIL);
        EXPECT_EQ(v, 0xABCDu);
        EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("a")), E_FAIL);
        COM_IEnumBSTR* e = static_cast<COM_IEnumBSTR*>(kPoison);
        EXPECT_EQ(Reg()->EnumKeys(&e), E_FAIL);
        EXPECT_EQ(Reg()->EnumValues(&e), E_FAIL);
        EXPECT_EQ(e, kPoison);
    };
    check();
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Reg()->Close(), S_OK);
    EXPECT_EQ(Reg()->Close(), S_OK);
    check();
}

TEST_F(RegistryObjectTest, StringValues) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("abc")), S_OK);
    // "abc" with its terminator: exactly four bytes.
    uint32_t v = 0;
    ASSERT_EQ(Reg()->GetDWordValue(COM_TEXT(""), &v), S_OK);
    EXPECT_EQ(v, 0x00636261u);
    utlAutoBstr text;
    ASSERT_EQ(Reg()->GetStringValue(nullptr, text.Put()), S_OK) << "null names the default value";
    EXPECT_EQ(FromBstr(text.Get()), W("abc")) << "the recorded length counts the characters only";
    EXPECT_EQ(text.Length(), 3u);

    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("empty"), COM_TEXT("")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "empty"), "");
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("latin"), W("Grüße à la carte").c_str()), S_OK);
    EXPECT_EQ(ReadString(Reg(), "LATIN"), "Grüße à la carte");
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("latin"), COM_TEXT("replaced")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "latin"), "replaced");

    COM_BSTR missing = static_cast<COM_BSTR>(kPoison);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("missing"), &missing), kNotFound);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("x"), nullptr), E_INVALIDARG);
    EXPECT_EQ(Reg()->GetStringValue(COM_TEXT("x"), nullptr), E_POINTER);
    // A number read as text: its bytes up to the first zero.
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("number"), 0x00434241), S_OK);
    EXPECT_EQ(ReadString(Reg(), "number"), "ABC");
}

TEST_F(RegistryObjectTest, DWordValues) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("n"), 0xFEEDF00D), S_OK);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("N"), &v), S_OK);
    EXPECT_EQ(v, 0xFEEDF00Du);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("n"), nullptr), E_POINTER);

    v = 0x12345678;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("missing"), &v), kNotFound);
    EXPECT_EQ(v, 0x12345678u);
    // Longer data than four bytes does not fit.
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("long"), COM_TEXT("abcd")), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("long"), &v), kMoreData);
    // Shorter data fills the first bytes only.
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("short"), COM_TEXT("a")), S_OK);
    v = 0x11111111;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("short"), &v), S_OK);
    EXPECT_EQ(v, 0x11110061u);
    // A value changes type when rewritten.
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("long"), 5), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("long"), &v), S_OK);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("LONG")), S_OK);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("long")), kNotFound);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("long"), &v), kNotFound);
}

TEST_F(RegistryObjectTest, CreateAndOpenKeys) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("stay"), 0), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("at-root"), 1), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("A\\B"), 1), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("in-b"), 2), S_OK);
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{});

    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"A", "stay"}));
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("A\\missing")), kNotFound);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("at-root"), &v), S_OK) << "a failed OpenKey keeps the key";
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("a\\b")), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("in-b"), &v), S_OK);
    EXPECT_EQ(v, 2u);
    // Creating an existing key opens it; trailing and doubled separators
    // are no extra levels.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("a\\\\B\\"), 1), S_OK);
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("in-b"), &v), S_OK);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("\\lead"), 1), kBadPathname);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("\\A")), kBadPathname);
    // Null key names are refused; nothing is created or deleted.
    EXPECT_EQ(Reg()->OpenKey(nullptr), E_INVALIDARG);
    EXPECT_EQ(Reg()->CreateKey(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(Reg()->DeleteKey(nullptr), E_INVALIDARG);
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"A", "stay"}));
}

TEST_F(RegistryObjectTest, NamesAreCaseInsensitiveAndPlainText) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(W("Äpfel").c_str(), 0), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("a_c"), 0), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("100%"), 0), S_OK);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("abc")), kNotFound) << "_ is no wildcard";
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("100")), kNotFound);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("100x")), kNotFound) << "% is no wildcard";
    ASSERT_EQ(Reg()->CreateKey(W("ÄPFEL").c_str(), 0), S_OK) << "opens the existing key";
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"100%", "a_c", "Äpfel"})) << "case preserved";
    ASSERT_EQ(Reg()->OpenKey(W("äPFEL").c_str()), S_OK);

    ASSERT_EQ(Reg()->SetStringValue(W("Größe").c_str(), COM_TEXT("1")), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(W("GRÖSSE").c_str(), COM_TEXT("2")), S_OK) << "ß has no simple upper case";
    ASSERT_EQ(Reg()->SetStringValue(W("gRÖßE").c_str(), COM_TEXT("3")), S_OK);
    EXPECT_EQ(ValueNames(Reg()), (std::vector<std::string>{"GRÖSSE", "Größe"}));
    EXPECT_EQ(ReadString(Reg(), "GRÖßE"), "3");
}

// Subkeys and values both come in the platform registry's order: names
// compared case-insensitively (by their lower-case forms), a name before
// every longer name it begins, the default value first.
TEST_F(RegistryObjectTest, EnumerationOrder) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    const char* names[] = {"b", "_x", "A", "a2", "Zed", "~t", "%p", "B1", "ä", "Äb", "z"};
    for (const char* n : names) ASSERT_EQ(Reg()->CreateKey(W(n).c_str(), 0), S_OK) << n;
    for (const char* n : names) ASSERT_EQ(Reg()->SetDWordValue(W(n).c_str(), 1), S_OK) << n;
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), COM_TEXT("d")), S_OK);
    const std::vector<std::string> sorted = {"%p", "_x", "A", "a2", "b", "B1", "z", "Zed", "~t", "ä", "Äb"};
    EXPECT_EQ(KeyNames(Reg()), sorted);
    std::vector<std::string> values = sorted;
    values.insert(values.begin(), "");
    EXPECT_EQ(ValueNames(Reg()), values);
    // Replacing a value keeps its place and its name's case.
    ASSERT_EQ(Reg()->DeleteValue(COM_TEXT("A")), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("a"), 2), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("ZED"), 2), S_OK);
    values[3] = "a";
    EXPECT_EQ(ValueNames(Reg()), values);
}

TEST_F(RegistryObjectTest, NameLimits) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(W(std::string(255, 'k')).c_str(), 0), S_OK);
    EXPECT_EQ(Reg()->CreateKey(W(std::string(257, 'k')).c_str(), 0), kInvalidParameter);
    EXPECT_EQ(Reg()->OpenKey(W(std::string(257, 'k')).c_str()), kInvalidParameter);
    EXPECT_EQ(Reg()->CreateKey(W("a\\" + std::string(259, 'k')).c_str(), 0), kMoreData) << "whole name too long";
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{std::string(255, 'k')}) << "never truncated";

    const std::string longest(16383, 'v');
    ASSERT_EQ(Reg()->SetDWordValue(W(longest).c_str(), 1), S_OK);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(W(longest).c_str(), &v), S_OK);
    EXPECT_EQ(Reg()->SetDWordValue(W(longest + "v").c_str(), 1), kInvalidParameter);
    EXPECT_EQ(Reg()->GetDWordValue(W(longest + "v").c_str(), &v), kNotFound);
    EXPECT_EQ(ValueNames(Reg()), std::vector<std::string>{longest});
}

TEST_F(RegistryObjectTest, DeleteKeyRemovesWholeTrees) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("tree\\one\\two\\three"), 0), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("tree\\one\\sibling"), 1), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), S_OK);
    // A deeper tree, built level by level, several children per level.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, COM_TEXT("tree")), S_OK);
    for (int level = 0; level < 40; ++level) {
        for (const char* c : {"x", "y"}) ASSERT_EQ(Reg()->CreateKey(W(c).c_str(), 0), S_OK);
        ASSERT_EQ(Reg()->CreateKey(COM_TEXT("deeper"), 1), S_OK);
        ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("level"), W(std::to_string(level)).c_str()), S_OK);
    }
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("other"), 0), S_OK);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("TREE")), S_OK);
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{"other"});
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("tree")), kNotFound);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("tree")), kNotFound);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("other\\missing")), kNotFound);
}

// Deleting the current key itself leaves a handle that fails with the
// platform's deleted-key error until the next Open or Close.
TEST_F(RegistryObjectTest, DeletedCurrentKey) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("doomed\\child"), 0), S_OK);
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("doomed")), S_OK);
    ASSERT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), S_OK);

    // A second object on the same key sees it vanish too.
    utlAutoIf<COM_IRegistry> other = NewRegistry();
    ASSERT_EQ(other->Open(COM_REGROOT_USER, COM_TEXT("doomed")), S_OK);

    ASSERT_EQ(Reg()->DeleteKey(COM_TEXT("")), S_OK);
    uint32_t v = 0;
    EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("v"), &v), kKeyDeleted);
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), kKeyDeleted);
    EXPECT_EQ(Reg()->DeleteValue(COM_TEXT("v")), kKeyDeleted);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("new"), 0), kKeyDeleted);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("child")), kKeyDeleted);
    EXPECT_EQ(Reg()->DeleteKey(COM_TEXT("")), kKeyDeleted);
    COM_IEnumBSTR* e = static_cast<COM_IEnumBSTR*>(kPoison);
    EXPECT_EQ(Reg()->EnumKeys(&e), kKeyDeleted);
    EXPECT_EQ(e, kPoison);
    EXPECT_EQ(other->GetDWordValue(COM_TEXT("v"), &v), kKeyDeleted);
    EXPECT_EQ(other->SetStringValue(COM_TEXT("v"), COM_TEXT("x")), kKeyDeleted);

    EXPECT_EQ(Reg()->Close(), S_OK);
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("v"), 1), E_FAIL);
    // A key made again under the old name is a new key, unknown to the old handle.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("doomed"), 0), S_OK);
    EXPECT_EQ(other->GetDWordValue(COM_TEXT("v"), &v), kKeyDeleted);
    EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{"doomed"});
}

// Several objects on several threads, each on keys of its own and on one
// shared key, leave every change in place.
TEST_F(RegistryObjectTest, ObjectsOnSeveralThreads) {
    constexpr int kThreads = 4, kWrites = 40;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            utlAutoIf<COM_IRegistry> r;
            if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) {
                ++failures[t];
                return;
            }
            for (int i = 0; i < kWrites; ++i) {
                if (r->Open(COM_REGROOT_USER, nullptr) != S_OK) ++failures[t];
                std::string key = "t" + std::to_string(t) + "\\k" + std::to_string(i);
                if (r->CreateKey(W(key).c_str(), 1) != S_OK) ++failures[t];
                if (r->SetDWordValue(COM_TEXT("i"), uint32_t(i)) != S_OK) ++failures[t];
                if (r->Open(COM_REGROOT_USER, COM_TEXT("")) != S_OK) ++failures[t];
                if (r->CreateKey(COM_TEXT("shared"), 1) != S_OK) ++failures[t];
                std::string name = "v" + std::to_string(t) + "-" + std::to_string(i);
                if (r->SetStringValue(W(name).c_str(), COM_TEXT("x")) != S_OK) ++failures[t];
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

TEST_F(RegistryObjectTest, CreateRegistryObjectThroughTheFactory) {
    utlAutoIf<COM_IClassFactory> factory;
    ASSERT_EQ(COM_GetClassFactory(COM_CLSID_Registry, factory.Put()), S_OK);
    utlAutoIf<COM_IUnknown> unknown;
    ASSERT_EQ(factory->CreateInstance(COM_IID_IUnknown, unknown.PutVoid()), S_OK);
    utlAutoIf<COM_IRegistry> r;
    ASSERT_EQ(unknown->QueryInterface(COM_IID_IRegistry, r.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<COM_IUnknown*>(r.Get()), unknown.Get());
}

} // namespace
} // namespace tavo::test
