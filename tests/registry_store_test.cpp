// The registry store of the Linux build: several processes, killed writers,
// damaged files, permissions, and the contract's calls themselves.
#include <fcntl.h>
#include <grp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_fixture.h"
#include "store_integrity.h"

namespace tavo::test {
namespace {

namespace fs = std::filesystem;
using namespace plat;
const COM_HRESULT kNotFound = COM_STATUS_FROM_WIN32(2);
const COM_HRESULT kAccessDenied = COM_STATUS_FROM_WIN32(5);
const COM_HRESULT kCorrupt = COM_STATUS_FROM_WIN32(1015);

/// Runs `body` in a forked child; its result is the child's exit status.
template <class F>
int InChild(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        _exit(rc);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// The unprivileged account the permission tests act as.
constexpr uid_t kNobody = 65534;
constexpr int kCannotDropPrivileges = 77;

/// Runs `body` in a forked child as the unprivileged user; the child's exit
/// status, or kCannotDropPrivileges.
template <class F>
int AsNobody(F body) {
    return InChild([&body] {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return kCannotDropPrivileges;
        return body();
    });
}

/// A fresh registry object of the calling (child) process, opened at `root`.
utlAutoIf<COM_IRegistry> ChildRegistry(uint32_t root) {
    utlAutoIf<COM_IRegistry> r;
    if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK ||
        r->Open(root, nullptr) != S_OK)
        r.Reset(nullptr);
    return r;
}


std::string Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

uint32_t ReadDword(RegKeyHandle key, const char* name, uint32_t* value) {
    uint32_t size = 4;
    return RegQueryValueExA(key, name, nullptr, reinterpret_cast<uint8_t*>(value), &size);
}
uint32_t WriteDword(RegKeyHandle key, const char* name, uint32_t value) {
    return RegSetValueExA(key, name, kRegDword, reinterpret_cast<const uint8_t*>(&value), 4);
}
uint32_t OpenStatus(RegKeyHandle parent, const char* subkey) {
    RegKey key;
    return RegOpenKeyExA(parent, subkey, kKeyRead, key.Put());
}

using RegistryStoreTest = RegistryTest;

// Garbage, another program's database and a cut hive are reported, never
// repaired or replaced; the other hive is unaffected.
TEST_F(RegistryStoreTest, DamagedOrForeignFileIsReportedAndKept) {
    const std::string file = HiveFile("machine.db"), other = HiveFile("other.db"), cut = HiveFile("cut.db");
    OpenRoot(COM_REGROOT_MACHINE);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(Reg()->SetStringValue(W("v" + std::to_string(i)).c_str(), W(std::string(400, 'x')).c_str()), S_OK);
    ASSERT_EQ(Reg()->Close(), S_OK);
    ASSERT_TRUE(ExecHive(file, "PRAGMA wal_checkpoint(TRUNCATE)"));
    std::string half = Bytes(file);
    ASSERT_GT(half.size(), 32768u);
    half.resize(half.size() / 2);
    std::ofstream(cut, std::ios::binary) << half;
    ASSERT_TRUE(ExecHive(other, "CREATE TABLE t(x); INSERT INTO t VALUES(1);"));
    const std::string foreign = Bytes(other);
    std::string garbage(8192, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = char((i * 7919) >> 3);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << garbage;
    fs::remove(file + "-wal");
    fs::remove(file + "-shm");

    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kCorrupt);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), kCorrupt);
    EXPECT_EQ(Bytes(file), garbage);
    SetEnv("TAVOCOM_MACHINE_HIVE", other.c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kCorrupt);
    EXPECT_EQ(Bytes(other), foreign);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);

    // A cut file: every call answers, some with the damage, none crash.
    SetEnv("TAVOCOM_MACHINE_HIVE", cut.c_str());
    std::set<COM_HRESULT> seen = {Reg()->Open(COM_REGROOT_MACHINE, nullptr)};
    if (*seen.begin() == S_OK) {
        utlAutoIf<COM_IEnumBSTR> e;
        seen.insert(Reg()->EnumValues(e.Put()));
        for (int i = 0; i < 200; ++i) {
            utlAutoBstr text;
            seen.insert(Reg()->GetStringValue(W("v" + std::to_string(i)).c_str(), text.Put()));
        }
        seen.insert(Reg()->SetStringValue(COM_TEXT("new"), COM_TEXT("x")));
    }
    EXPECT_TRUE(seen.count(kCorrupt)) << "the damage is reported";
    for (COM_HRESULT s : seen) EXPECT_TRUE(s == S_OK || s == kCorrupt) << std::hex << uint32_t(s);
    EXPECT_EQ(Bytes(cut), half);
    SetEnv("TAVOCOM_MACHINE_HIVE", file.c_str());
    fs::remove(file); // lets the sandbox clean up
}

// Reading an absent hive creates nothing; the first write makes it with its
// permissions, or fails without rights on the directory.
TEST_F(RegistryStoreTest, FilesAppearOnFirstWriteWithTheirPermissions) {
    const std::string dir = m_sandbox->HiveDirectory();
    const std::string machine = dir + "/m/sub/machine.db", user = dir + "/u/sub/user.db";
    SetEnv("TAVOCOM_MACHINE_HIVE", machine.c_str());
    SetEnv("TAVOCOM_USER_HIVE", user.c_str());
    RegKey key;
    EXPECT_EQ(RegOpenKeyExA(kHKeyLocalMachine, "Software", kKeyRead, key.Put()), 2u);
    uint32_t subkeys = 9, values = 9;
    ASSERT_EQ(RegOpenKeyExA(kHKeyCurrentUser, nullptr, kKeyRead, key.Put()), 0u);
    EXPECT_EQ(RegQueryInfoKeyA(key.Get(), &subkeys, nullptr, &values, nullptr), 0u);
    EXPECT_EQ(subkeys + values, 0u);
    key.Reset();
    EXPECT_FALSE(fs::exists(dir + "/m"));
    EXPECT_FALSE(fs::exists(dir + "/u"));

    OpenRoot(COM_REGROOT_MACHINE);
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(Mode(machine), 0644u);
    EXPECT_EQ(Mode(dir + "/m/sub"), 0755u);
    EXPECT_EQ(Mode(user), 0600u);
    EXPECT_EQ(Mode(dir + "/u/sub"), 0700u);
    EXPECT_EQ(Mode(dir + "/u"), 0700u);
    EXPECT_EQ(QueryHive(user, "PRAGMA user_version"), "1");
    EXPECT_EQ(QueryHive(user, "PRAGMA journal_mode"), "wal");
    ASSERT_EQ(Reg()->Close(), S_OK);

    const std::string locked = dir + "/locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    SetEnv("TAVOCOM_MACHINE_HIVE", (locked + "/machine.db").c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kNotFound) << "create refused, the read finds nothing";
    EXPECT_EQ(RegCreateKeyExA(kHKeyLocalMachine, "Software", kKeyAllAccess, key.Put(), nullptr), 5u);
    EXPECT_FALSE(fs::exists(locked + "/machine.db"));
    fs::permissions(locked, fs::perms::owner_all);
    SetEnv("TAVOCOM_MACHINE_HIVE", (dir + "/machine.db").c_str());
    SetEnv("TAVOCOM_USER_HIVE", (dir + "/user.db").c_str());
}

// Case folding beyond Latin-1, which the Windows build's code page cannot carry.
TEST_F(RegistryStoreTest, GreekAndCyrillicNamesCompareWithoutCase) {
    OpenRoot(COM_REGROOT_USER);
    for (const char* name : {"Ωμέγα", "Дом", "ŁÓDŹ"}) ASSERT_EQ(Reg()->CreateKey(W(name).c_str(), 0), S_OK);
    for (const char* name : {"ωΜΈΓΑ", "дОМ", "łódź"}) {
        OpenRoot(COM_REGROOT_USER);
        EXPECT_EQ(Reg()->OpenKey(W(name).c_str()), S_OK) << name;
    }
    ASSERT_EQ(Reg()->SetStringValue(W("Ключ").c_str(), COM_TEXT("1")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "КЛЮЧ"), "1");
    OpenRoot(COM_REGROOT_USER);
    // Enumeration buffers are sized in bytes of the 8-bit names.
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"ŁÓDŹ", "Ωμέγα", "Дом"}));
}

// Reads repeated after another process changed what they found (so a second
// answer could come from memory): values, a deleted value, a key that
// appears, a held handle to a deleted key, the registry object's own key.
TEST_F(RegistryStoreTest, RepeatedReadsSeeOtherProcessesChanges) {
    RegKey base, held;
    ASSERT_EQ(RegCreateKeyExA(kHKeyLocalMachine, "Software\\Cache\\Held", kKeyAllAccess, held.Put(), nullptr), 0u);
    ASSERT_EQ(RegOpenKeyExA(kHKeyLocalMachine, "Software\\Cache", kKeyAllAccess, base.Put()), 0u);
    ASSERT_EQ(WriteDword(base.Get(), "n", 0), 0u);
    ASSERT_EQ(WriteDword(base.Get(), "gone", 1), 0u);
    OpenRoot(COM_REGROOT_MACHINE);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("Doomed"), 1), S_OK);
    uint32_t n = 99;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(ReadDword(base.Get(), "gone", &n), 0u);
        EXPECT_EQ(OpenStatus(base.Get(), "Later"), 2u);
        EXPECT_EQ(OpenStatus(base.Get(), "held"), 0u);
        EXPECT_EQ(OpenStatus(held.Get(), nullptr), 0u);
        EXPECT_EQ(ReadDword(held.Get(), "x", &n), 2u);
        EXPECT_EQ(ReadString(Reg(), "s"), "<" + std::to_string(uint32_t(kNotFound)) + ">");
    }
    ASSERT_EQ(InChild([] {
                  RegKey key, later;
                  auto r = ChildRegistry(COM_REGROOT_MACHINE);
                  if (!r || r->DeleteKey(COM_TEXT("Doomed")) != S_OK) return 1;
                  if (RegOpenKeyExA(kHKeyLocalMachine, "Software\\Cache", kKeyAllAccess, key.Put()) != 0) return 2;
                  if (WriteDword(key.Get(), "n", 1) != 0 || RegDeleteValueA(key.Get(), "gone") != 0) return 3;
                  if (RegDeleteKeyA(key.Get(), "Held") != 0) return 4;
                  return RegCreateKeyExA(key.Get(), "Later", kKeyAllAccess, later.Put(), nullptr) == 0 ? 0 : 5;
              }),
              0);
    EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(ReadDword(base.Get(), "gone", &n), 2u);
    EXPECT_EQ(OpenStatus(base.Get(), "Later"), 0u);
    EXPECT_EQ(OpenStatus(base.Get(), "Held"), 2u);
    EXPECT_EQ(OpenStatus(held.Get(), nullptr), 1018u);
    EXPECT_EQ(ReadDword(held.Get(), "x", &n), 1018u);
    EXPECT_EQ(ReadString(Reg(), "s"), "<" + std::to_string(uint32_t(COM_STATUS_FROM_WIN32(1018))) + ">");

    // Another connection of this very process.
    EXPECT_TRUE(ExecHive(HiveFile("machine.db"), "UPDATE vals SET data=x'2A000000' WHERE type=4"));
    EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    EXPECT_EQ(n, 42u);
}

// A writer that died between the two copies of the journal index header
// leaves the first one stale; the change it committed is still read.
TEST_F(RegistryStoreTest, HalfWrittenIndexHeaderIsNotTrusted) {
    const std::string file = HiveFile("machine.db");
    OpenRoot(COM_REGROOT_MACHINE);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("v"), COM_TEXT("one")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "v"), "one");
    EXPECT_EQ(ReadString(Reg(), "v"), "one");
    // Only the child touches the index file: closing a descriptor of it here
    // would drop this process's locks.
    ASSERT_EQ(InChild([&file] {
                  int fd = open((file + "-shm").c_str(), O_RDWR | O_CLOEXEC);
                  char before[48], after[96];
                  if (fd < 0 || pread(fd, before, sizeof before, 0) != ssize_t(sizeof before)) return 1;
                  auto r = ChildRegistry(COM_REGROOT_MACHINE);
                  if (!r || r->SetStringValue(COM_TEXT("v"), COM_TEXT("two")) != S_OK) return 2;
                  if (pread(fd, after, sizeof after, 0) != ssize_t(sizeof after)) return 3;
                  if (std::memcmp(after, after + 48, 48) != 0 || std::memcmp(after, before, 48) == 0) return 4;
                  return pwrite(fd, before, sizeof before, 0) == ssize_t(sizeof before) ? 0 : 5;
              }),
              0);
    EXPECT_EQ(ReadString(Reg(), "v"), "two");
    EXPECT_EQ(ReadString(Reg(), "v"), "two");
    EXPECT_EQ(QueryHive(file, "PRAGMA integrity_check"), "ok");
}

// A closed handle, or one never handed out, is refused without being followed.
TEST_F(RegistryStoreTest, StaleAndForeignHandlesAreRefused) {
    RegKeyHandle key = nullptr;
    uint32_t v = 0;
    ASSERT_EQ(RegCreateKeyExA(kHKeyCurrentUser, "Software\\Stale", kKeyAllAccess, &key, nullptr), 0u);
    ASSERT_EQ(RegCloseKey(key), 0u);
    const RegKeyHandle foreign = static_cast<RegKeyHandle>(kPoison);
    for (RegKeyHandle bad : {key, foreign}) {
        EXPECT_EQ(ReadDword(bad, "v", &v), 6u);
        EXPECT_EQ(WriteDword(bad, "v", 1), 6u);
        EXPECT_EQ(OpenStatus(bad, nullptr), 6u);
        EXPECT_EQ(RegCloseKey(bad), 6u);
    }
}

// A machine hive this user may read but not write, with whatever side files
// no process holds open: it reads, and every change is refused.
TEST_F(RegistryStoreTest, ReadOnlyHiveReadsWhateverSideFilesExist) {
    if (geteuid() != 0) GTEST_SKIP() << "arranging another user's hive needs root";
    const std::string dir = HiveFile("ro"), file = dir + "/machine.db";
    fs::create_directory(dir);
    SetEnv("TAVOCOM_MACHINE_HIVE", file.c_str());
    auto set = [](const char* v) {
        return InChild([v] {
            auto r = ChildRegistry(COM_REGROOT_MACHINE);
            return r && r->SetStringValue(COM_TEXT("v"), W(v).c_str()) == S_OK ? 0 : 1;
        });
    };
    auto sideFiles = [&file] { return int(fs::exists(file + "-wal")) + int(fs::exists(file + "-shm")); };
    ASSERT_EQ(set("1"), 0);
    // The last connection to close checkpoints and deletes the side files.
    ASSERT_TRUE(ExecHive(file, "PRAGMA wal_checkpoint(TRUNCATE)"));
    ASSERT_EQ(sideFiles(), 0);
    struct Case {
        fs::perms file, dir;
        const char* set; // written first, by a writer killed with its side files left
        const char* expected;
    } cases[] = {
        {fs::perms(0644), fs::perms(0755), nullptr, "1"},
        {fs::perms(0444), fs::perms(0555), nullptr, "1"},
        {fs::perms(0644), fs::perms(0755), "2", "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        fs::permissions(dir, fs::perms(0755));
        fs::permissions(file, fs::perms(0644));
        if (c.set) {
            ASSERT_EQ(set(c.set), 0);
            ASSERT_EQ(sideFiles(), 2);
        }
        fs::permissions(file, c.file);
        fs::permissions(dir, c.dir);
        const int rc = AsNobody([&c] {
            auto r = ChildRegistry(COM_REGROOT_MACHINE);
            if (!r) return 1;
            if (ReadString(r.Get(), "v") != c.expected) return 2;
            if (r->SetStringValue(COM_TEXT("v"), COM_TEXT("x")) != kAccessDenied) return 3;
            return r->CreateKey(COM_TEXT("new"), 0) == kAccessDenied ? 0 : 4;
        });
        if (rc == kCannotDropPrivileges) GTEST_SKIP() << "cannot act as uid " << kNobody;
        EXPECT_EQ(rc, 0);
    }
    fs::permissions(dir, fs::perms(0755));
}

} // namespace
} // namespace tavo::test
