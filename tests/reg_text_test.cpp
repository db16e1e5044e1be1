// Registry text files: the parser and the writer against a file that the
// platform's own registry tool wrote (tests/data/wine_export.reg), imports
// and exports through the registry on both builds, and, where the platform
// has a registry tool of its own, its export and import of the same tree.
#include "platform/registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"
#include "tools/reg/reg_text_store.h"

#include <fstream>
#include <iterator>

namespace tavo::tools::regtext {
// A key in failure messages: its lines as the file gives them.
void PrintTo(const Key& key, std::ostream* os) {
    const std::string bytes = Write({key});
    utf::WideString text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += COM_WCHAR(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
    *os << "\n" << utf::Utf16ToUtf8(text.data(), text.size()).substr(40);
}
} // namespace tavo::tools::regtext

namespace tavo::test {
namespace {

using namespace tools::regtext;
using Bytes = std::vector<uint8_t>;

const char kRoot[] = "HKEY_CURRENT_USER\\Software\\TavoRegFileTest";
const char kDataFile[] = TAVOCOM_TEST_DATA "/wine_export.reg";

/// The UTF-16LE bytes of a literal, its terminator included.
template <size_t N>
Bytes Z(const char16_t (&text)[N]) {
    Bytes out;
    for (char16_t c : text) out.insert(out.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
    return out;
}

/// A byte literal, zeros and all.
template <size_t N>
std::string Raw(const char (&bytes)[N]) {
    return std::string(bytes, N - 1);
}

Bytes Counting(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i);
    return out;
}

// Every value type, names and texts that need escapes, hex data that fills
// its lines exactly ("bin") and one whose name pushes it to the edge: the
// tree of the data file, in the order the registry lists it.
Tree WineTree() {
    const std::string root = kRoot;
    return {
        {root, false,
         {{"", false, kTypeSz, Z(u"default text")},
          {"bin", false, kTypeBinary, Counting(48)},
          {"dword", false, kTypeDword, {0x01, 0xef, 0xcd, 0xab}},
          {"dword empty", false, kTypeDword, {}},
          {"empty", false, kTypeSz, Z(u"")},
          {"escape \\ and \"", false, kTypeSz, Z(u"C:\\dir \"quoted\"\r\nnext\ttab")},
          {"expand", false, kTypeExpandSz, Z(u"%PATH%;x")},
          {"long name that reaches far to the right of the line before any data", false, kTypeBinary, Counting(10)},
          {"multi", false, kTypeMultiSz, Z(u"a\0bb\0")},
          {"none", false, 0, {}},
          {"qword", false, 11, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
          {"type 100000", false, 0x100000, {0x01}},
          {"unicode", false, kTypeSz, Z(u"caf\u00e9 \u00fc")}}},
        {root + "\\Sub [x]", false, {}},
        {root + "\\Sub [x]\\Deeper", false, {{"x", false, kTypeSz, Z(u"y")}}},
    };
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// A version 5 file: text to UTF-16LE with its byte-order mark.
std::string Utf16File(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) out += {c, '\0'};
    return out;
}

Tree MustParse(const std::string& bytes) {
    Tree tree;
    ParseError error;
    EXPECT_TRUE(Parse(bytes, &tree, &error)) << error.line << ": " << error.what;
    return tree;
}

void ApplyOrFail(const Tree& tree) {
    ApplyFailure failure;
    ASSERT_EQ(Apply(tree, &failure), 0u) << failure.line << " " << failure.what;
}

Tree Read(const char* path = kRoot) {
    Tree tree;
    EXPECT_EQ(ReadTree(path, &tree), 0u);
    return tree;
}

bool Exists(const char* path) {
    Tree tree;
    return ReadTree(path, &tree) == 0;
}

class RegTextTest : public ModuleCountTest {
protected:
    // A fixed key, so that the platform tool's file can be compared byte
    // for byte; it goes before and after each test.
    void SetUp() override {
        ModuleCountTest::SetUp();
        ApplyOrFail({{kRoot, true, {}}});
    }
    void TearDown() override {
        ApplyOrFail({{kRoot, true, {}}});
        ModuleCountTest::TearDown();
    }
    RegistrySandbox m_sandbox;
};

TEST_F(RegTextTest, ReadsAndWritesWhatThePlatformToolWrites) {
    const std::string file = ReadAll(kDataFile);
    ASSERT_FALSE(file.empty()) << kDataFile;
    EXPECT_EQ(MustParse(file), WineTree());
    EXPECT_EQ(Write(WineTree()), file);
    // Export's bound on the file: a file of exactly the limit is written whole.
    std::string bytes = "x";
    EXPECT_TRUE(!WriteWithin(WineTree(), file.size() - 1, &bytes) && bytes.empty());
    EXPECT_TRUE(WriteWithin(WineTree(), file.size(), &bytes) && bytes == file);
}

// Import of the platform tool's file, export again: the same tree, the
// same bytes. Data that the quoted and dword: forms would change goes as
// hex and comes back unchanged too; deletions take keys and values away.
TEST_F(RegTextTest, RoundTripsThroughTheRegistry) {
    const std::string file = ReadAll(kDataFile);
    ApplyOrFail(MustParse(file));
    EXPECT_EQ(Read(), WineTree());
    EXPECT_EQ(Write(Read()), file);

    // (The platform's 8-bit calls give a string without terminator back
    // with one: that case is checked in the file alone.) Paths longer than
    // the 8-bit calls take at once are fine.
    const std::string exact = std::string(kRoot) + "\\Exact", deep = exact + "\\" + std::string(100, 'a');
    Tree odd = {{exact, false,
                 {{"dword short", false, kTypeDword, {1, 2}},
                  {"no terminator", false, kTypeSz, {'a', 0, 'b', 0}},
                  {"zero inside", false, kTypeSz, Z(u"a\0b")}}},
                {deep, false, {}},
                {deep + "\\" + std::string(100, 'b'), false, {}},
                {deep + "\\" + std::string(100, 'b') + "\\" + std::string(100, 'c'), false, {{"v", false, 0, {}}}}};
    EXPECT_EQ(MustParse(Write(odd)), odd);
    odd[0].values.erase(odd[0].values.begin() + 1);
    ApplyOrFail(odd);
    EXPECT_EQ(Read(exact.c_str()), odd);

    ApplyOrFail(MustParse(Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[-" + std::string(kRoot) +
                                    "\\Sub [x]]\r\n[" + kRoot + "]\r\n\"bin\"=-\r\n\"not there\"=-\r\n")));
    Tree left = WineTree();
    left.resize(1);
    left[0].values.erase(left[0].values.begin() + 1);
    left.insert(left.end(), odd.begin(), odd.end());
    EXPECT_EQ(Read(), left);
}

// The older 8-bit form: its text and its hex(2): data in the code page
// (here UTF-8), comments, blank lines and deletions.
TEST_F(RegTextTest, ReadsTheOlderForm) {
    const std::string file = "REGEDIT4\n; a comment\n\n[-HKCU\\Software\\Gone]\n[HKEY_CURRENT_USER\\Software\\A]\n"
                             "@=\"caf\xC3\xA9\"\n  \"e\" = hex(2):25,41,\\\n    25,00\n\"old\"=-\n";
    const Tree expected = {{"HKEY_CURRENT_USER\\Software\\Gone", true, {}},
                           {"HKEY_CURRENT_USER\\Software\\A", false,
                            {{"", false, kTypeSz, Z(u"caf\u00e9")},
                             {"e", false, kTypeExpandSz, Z(u"%A%")},
                             {"old", true, 0, {}}}}};
    EXPECT_EQ(MustParse(file), expected);
}

struct BadFile {
    std::string bytes;
    size_t line;
    const char* message;
};

TEST_F(RegTextTest, RefusesMalformedFilesWithTheirLine) {
    const std::string v4 = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n";
    const std::string v5 = Utf16File("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n");
    const BadFile cases[] = {
        {"", 1, "empty file"},
        {Raw("\xFE\xFF\0W\0i"), 1, "big-endian"},
        {"\x7F" "ELF\x02\x01\x01garbage", 1, "not a registry file"},
        {Raw("R\0E\0G\0E\0D\0I\0T\0" "4\0"), 1, "zero byte"},
        {v5 + "@", 3, "inside a UTF-16 character"},
        {v4 + "\"v\"=hex:01,02,\\\r\n", 3, "continued"},
        {v4 + "\"v\"=\"abc", 3, "closing quote"},
        {v4 + "\"v\"=\"C:\\dir\"", 3, "unknown escape"},
        {v4 + "[HKEY_USERS\\x]", 3, "outside HKEY_LOCAL_MACHINE"},
        {v4 + "[-HKEY_CURRENT_USER]", 3, "whole hive"},
        {v4 + "[HKEY_CURRENT_USER\\a\\\\b]", 3, "empty key name"},
        {v4 + "[HKEY_CURRENT_USER\\a", 3, "closing ]"},
        {v4 + "\"v\"=qword:1", 3, "unknown value type"},
        {v4 + "\"v\"=hex:1,2", 3, "two digits"},
        {v4 + "\"v\"=dword:123456789", 3, "eight hex digits"},
        {v4 + "text", 3, "expected a [KEY] line"},
        {"REGEDIT4\r\n\"v\"=\"x\"", 2, "before the first"},
        {v4 + "[-HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\"", 4, "deleted key"},
        {v5 + Utf16File("\"v\"=hex(2):41").substr(2), 3, "odd number of bytes"},
        {v4 + "\"v\"=hex:" + std::string(1 << 20, 'z'), 3, "hex byte"},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.message);
        Tree tree = {{"sentinel", false, {}}};
        ParseError error;
        ASSERT_FALSE(Parse(c.bytes, &tree, &error));
        EXPECT_EQ(error.line, c.line);
        EXPECT_NE(error.what.find(c.message), std::string::npos) << error.what;
        EXPECT_LT(error.what.size(), 200u);
        EXPECT_TRUE(tree.empty());
    }
    // A line of a megabyte that is well formed is read in full.
    std::string big = v4 + "\"v\"=hex:00";
    for (int i = 0; i < 350000; ++i) big += ",ff";
    Tree tree = MustParse(big);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].values.at(0).data.size(), 350001u);
}

// The hive's write batch, which makes an import or a reg add one change
// where the store has transactions. (What the tool refuses: tool_reg.)
TEST_F(RegTextTest, WriteBatchesDropTheirChangesWhole) {
    ASSERT_EQ(plat::BeginRegistryBatch(plat::kHKeyCurrentUser), 0u);
    EXPECT_EQ(plat::BeginRegistryBatch(plat::kHKeyCurrentUser), plat::kErrorBusy);
    plat::RegKey key;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::kHKeyCurrentUser, "Software\\TavoRegFileTest\\A\\B", plat::kKeyAllAccess,
                                    key.Put(), nullptr),
              0u);
    ASSERT_EQ(plat::RegSetValueExA(key.Get(), "v", plat::kRegDword, reinterpret_cast<const uint8_t*>("1234"), 4), 0u);
    EXPECT_TRUE(Exists(kRoot)) << "the batch sees its own changes";
    key.Reset();
    EXPECT_EQ(plat::RollbackRegistryBatch(plat::kHKeyCurrentUser), HasHiveFiles());
    EXPECT_EQ(Exists(kRoot), !HasHiveFiles());
}

// A tree as deep as the store takes, 512 levels below the hive, read,
// written out and deleted on a thread with a stack of 64 KB, which a
// recursive delete of 512 levels overflows: the walk and the delete keep
// their path off the machine stack.
TEST_F(RegTextTest, DeepTreesOnASmallStack) {
    const std::string root = "HKEY_CURRENT_USER\\Software\\Quorvalltech\\" + m_sandbox.Version();
    std::string deepest = root;
    for (int level = 4; level <= 512; ++level) deepest += "\\k";
    ApplyOrFail({{deepest, false, {{"v", false, kTypeSz, Z(u"deepest")}}}});
    Tree tree;
    std::string file;
    COM_HRESULT deleted = E_FAIL;
    ASSERT_TRUE(RunWithStack(64 << 10, [&] {
        ReadTree(root, &tree);
        WriteWithin(tree, kMaxFileBytes, &file);
        utlAutoIf<COM_IRegistry> registry;
        if (COM_SUCCEEDED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid())) &&
            registry->Open(COM_REGROOT_USER, nullptr) == S_OK)
            deleted = registry->DeleteKey(COM_TEXT("k"));
    }));
    ASSERT_EQ(tree.size(), 510u);
    EXPECT_EQ(tree.back(), (Key{deepest, false, {{"v", false, kTypeSz, Z(u"deepest")}}}));
    EXPECT_EQ(MustParse(file), tree);
    EXPECT_EQ(deleted, S_OK);
}

// The platform's own tool: its export of the tree our import made is the
// data file, byte for byte; its import of our export makes the same tree.
TEST_F(RegTextTest, PlatformToolAgrees) {
    std::string output;
    ApplyOrFail(WineTree());
    int code = RunPlatformProgram(std::string("reg.exe export \"") + kRoot + "\" reg_text_wine.reg /y", &output);
    if (code == -1) GTEST_SKIP() << "this platform has no registry tool of its own to compare with";
    ASSERT_EQ(code, 0) << output;
    EXPECT_EQ(ReadAll("reg_text_wine.reg"), ReadAll(kDataFile)) << "see reg_text_wine.reg";

    WriteAll("reg_text_ours.reg", Write(Read()));
    ApplyOrFail({{kRoot, true, {}}});
    ASSERT_EQ(RunPlatformProgram("reg.exe import reg_text_ours.reg", &output), 0) << output;
    EXPECT_EQ(Read(), WineTree());
}

} // namespace
} // namespace tavo::test
