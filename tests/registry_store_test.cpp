// The registry store of the Linux build: what only a store of files can
// get wrong. Several processes, a writer killed mid-way, damaged and
// foreign files, permissions, and the contract's calls themselves.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_fixture.h"

namespace tavo::test {
namespace {

namespace fs = std::filesystem;
const COM_HRESULT kNotFound = COM_STATUS_FROM_WIN32(2);
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

std::string Query(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    std::string result = "<open failed>";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        result = "<failed>";
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return result;
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

using RegistryStoreTest = RegistryTest;

TEST_F(RegistryStoreTest, SecondProcessSeesTheFirstOnesWrites) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("from-parent"), COM_TEXT("p")), S_OK);
    // The child inherits this process's open store and must not use it.
    int rc = InChild([] {
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return 1;
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) return 2;
        if (ReadString(r.Get(), "from-parent") != "p") return 3;
        if (r->SetStringValue(COM_TEXT("from-child"), COM_TEXT("c")) != S_OK) return 4;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadString(Reg(), "from-child"), "c");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    EXPECT_EQ(ReadString(Reg(), "from-child"), "c");
}

TEST_F(RegistryStoreTest, ConcurrentWritersInSeveralProcesses) {
    constexpr int kProcesses = 4, kWrites = 25;
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            utlAutoIf<COM_IRegistry> r;
            if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) _exit(100);
            for (int i = 0; i < kWrites; ++i) {
                std::string key = "p" + std::to_string(p) + "\\k" + std::to_string(i);
                failures += r->Open(COM_REGROOT_USER, nullptr) != S_OK;
                failures += r->CreateKey(W(key).c_str(), 1) != S_OK;
                failures += r->SetDWordValue(COM_TEXT("i"), uint32_t(i)) != S_OK;
                failures += r->Open(COM_REGROOT_USER, nullptr) != S_OK;
                failures += r->CreateKey(COM_TEXT("shared"), 1) != S_OK;
                std::string name = std::to_string(p) + "-" + std::to_string(i);
                failures += r->SetStringValue(W(name).c_str(), COM_TEXT("v")) != S_OK;
            }
            _exit(failures);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failures: " << WEXITSTATUS(status);
    }
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, COM_TEXT("shared")), S_OK);
    EXPECT_EQ(ValueNames(Reg()).size(), size_t(kProcesses * kWrites));
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, W("p" + std::to_string(p)).c_str()), S_OK);
        EXPECT_EQ(KeyNames(Reg()).size(), size_t(kWrites));
    }
    EXPECT_EQ(Query(HiveFile("user.db"), "PRAGMA integrity_check"), "ok");
}

// A writer killed at an arbitrary moment: every change it reported as
// done is there, and the store opens and checks clean.
TEST_F(RegistryStoreTest, KilledWriterLosesNoCompletedChange) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) _exit(1);
        for (uint32_t i = 0;; ++i) {
            if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) _exit(2);
            if (r->CreateKey(W("k" + std::to_string(i)).c_str(), 1) != S_OK) _exit(3);
            if (r->SetDWordValue(COM_TEXT("i"), i) != S_OK) _exit(4);
            if (write(fds[1], &i, sizeof i) != sizeof i) _exit(5);
        }
    }
    ASSERT_GT(pid, 0);
    close(fds[1]);
    std::vector<uint32_t> done;
    uint32_t i = 0;
    while (done.size() < 150 && read(fds[0], &i, sizeof i) == sizeof i) done.push_back(i);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << WEXITSTATUS(status);
    while (read(fds[0], &i, sizeof i) == sizeof i) done.push_back(i);
    close(fds[0]);
    ASSERT_GE(done.size(), 150u);

    EXPECT_EQ(Query(HiveFile("machine.db"), "PRAGMA integrity_check"), "ok");
    for (uint32_t k : done) {
        ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, W("k" + std::to_string(k)).c_str()), S_OK) << k;
        uint32_t v = ~k;
        EXPECT_EQ(Reg()->GetDWordValue(COM_TEXT("i"), &v), S_OK);
        EXPECT_EQ(v, k);
    }
    // The store goes on taking changes.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    EXPECT_EQ(Reg()->SetDWordValue(COM_TEXT("after"), 1), S_OK);
}

// A file that is not a hive is reported, never repaired or replaced.
TEST_F(RegistryStoreTest, ForeignOrCorruptFileIsReportedAndKept) {
    const std::string file = HiveFile("machine.db");
    std::string garbage(8192, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = char((i * 7919) >> 3);
    std::ofstream(file, std::ios::binary) << garbage;
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kCorrupt);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_CLASSES, COM_TEXT("CLSID")), kCorrupt);
    EXPECT_EQ(Bytes(file), garbage);

    // Another program's SQLite database.
    const std::string other = HiveFile("other.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = Bytes(other);
    SetEnv("TAVOCOM_MACHINE_HIVE", other.c_str());
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kCorrupt);
    EXPECT_EQ(Bytes(other), before);
    // The user hive is a separate file and unaffected.
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    SetEnv("TAVOCOM_MACHINE_HIVE", file.c_str());
    std::error_code ignored;
    fs::remove(file, ignored); // lets the sandbox clean up
}

TEST_F(RegistryStoreTest, TruncatedFileGivesErrorsNotCrashes) {
    const std::string file = HiveFile("machine.db");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    const std::string filler(400, 'x');
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(Reg()->SetStringValue(W("v" + std::to_string(i)).c_str(), W(filler).c_str()), S_OK);
    ASSERT_EQ(Reg()->Close(), S_OK);
    // Fold the journal into the file, then cut the copy in half.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string cut = HiveFile("cut.db");
    std::string bytes = Bytes(file);
    ASSERT_GT(bytes.size(), 32768u);
    bytes.resize(bytes.size() / 2);
    std::ofstream(cut, std::ios::binary) << bytes;
    SetEnv("TAVOCOM_MACHINE_HIVE", cut.c_str());

    std::set<COM_HRESULT> seen;
    COM_HRESULT hr = Reg()->Open(COM_REGROOT_MACHINE, nullptr);
    seen.insert(hr);
    if (hr == S_OK) {
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
    EXPECT_EQ(Bytes(cut), bytes) << "the damaged file is left as it was";
    SetEnv("TAVOCOM_MACHINE_HIVE", file.c_str());
}

TEST_F(RegistryStoreTest, FilesAppearOnFirstWriteWithTheirPermissions) {
    const std::string dir = m_sandbox->HiveDirectory();
    const std::string machine = dir + "/m/sub/machine.db", user = dir + "/u/sub/user.db";
    SetEnv("TAVOCOM_MACHINE_HIVE", machine.c_str());
    SetEnv("TAVOCOM_USER_HIVE", user.c_str());
    // Reading an absent hive finds it empty and creates nothing.
    plat::RegKey key;
    EXPECT_EQ(plat::RegOpenKeyExA(plat::kHKeyLocalMachine, "Software", plat::kKeyRead, key.Put()), 2u);
    uint32_t subkeys = 9, values = 9;
    ASSERT_EQ(plat::RegOpenKeyExA(plat::kHKeyCurrentUser, nullptr, plat::kKeyRead, key.Put()), 0u);
    EXPECT_EQ(plat::RegQueryInfoKeyA(key.Get(), &subkeys, nullptr, &values, nullptr), 0u);
    EXPECT_EQ(subkeys + values, 0u);
    key.Reset();
    EXPECT_FALSE(fs::exists(dir + "/m"));
    EXPECT_FALSE(fs::exists(dir + "/u"));

    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Mode(machine), 0644u);
    EXPECT_EQ(Mode(dir + "/m/sub"), 0755u);
    EXPECT_EQ(Mode(user), 0600u);
    EXPECT_EQ(Mode(dir + "/u/sub"), 0700u);
    EXPECT_EQ(Mode(dir + "/u"), 0700u);
    EXPECT_EQ(Query(user, "PRAGMA user_version"), "1");
    EXPECT_EQ(Query(user, "PRAGMA journal_mode"), "wal");
    ASSERT_EQ(Reg()->Close(), S_OK);
    SetEnv("TAVOCOM_MACHINE_HIVE", (dir + "/machine.db").c_str());
    SetEnv("TAVOCOM_USER_HIVE", (dir + "/user.db").c_str());
}

TEST_F(RegistryStoreTest, ReadOnlyDirectoryRefusesTheFirstWrite) {
    const std::string dir = m_sandbox->HiveDirectory() + "/locked";
    fs::create_directory(dir);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    SetEnv("TAVOCOM_MACHINE_HIVE", (dir + "/machine.db").c_str());
    // Create fails for lack of rights; the read that follows finds nothing.
    EXPECT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), kNotFound);
    plat::RegKey key;
    EXPECT_EQ(plat::RegCreateKeyExA(plat::kHKeyLocalMachine, "Software", plat::kKeyAllAccess, key.Put(), nullptr),
              5u);
    EXPECT_FALSE(fs::exists(dir + "/machine.db"));
    fs::permissions(dir, fs::perms::owner_all);
    SetEnv("TAVOCOM_MACHINE_HIVE", (m_sandbox->HiveDirectory() + "/machine.db").c_str());
}

// Case-insensitive beyond Latin-1 (the Windows build's 8-bit code page
// cannot carry these names).
TEST_F(RegistryStoreTest, GreekAndCyrillicNamesCompareWithoutCase) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(W("Ωμέγα").c_str(), 0), S_OK);
    ASSERT_EQ(Reg()->CreateKey(W("Дом").c_str(), 0), S_OK);
    ASSERT_EQ(Reg()->CreateKey(W("ŁÓDŹ").c_str(), 0), S_OK);
    EXPECT_EQ(Reg()->OpenKey(W("ωΜΈΓΑ").c_str()), S_OK);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Reg()->OpenKey(W("дОМ").c_str()), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(W("Ключ").c_str(), COM_TEXT("1")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "КЛЮЧ"), "1");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Reg()->OpenKey(W("łódź").c_str()), S_OK);
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    // Enumeration buffers are sized in bytes of the 8-bit names.
    EXPECT_EQ(KeyNames(Reg()), (std::vector<std::string>{"ŁÓDŹ", "Ωμέγα", "Дом"}));
}

// The contract's own answers where the registry object does not look.
TEST_F(RegistryStoreTest, ContractDetails) {
    using namespace plat;
    RegKey base, key;
    uint32_t disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(kHKeyCurrentUser, "Software\\T", kKeyAllAccess, base.Put(), &disposition), 0u);
    EXPECT_EQ(disposition, kRegCreatedNewKey);
    ASSERT_EQ(RegCreateKeyExA(kHKeyCurrentUser, "SOFTWARE\\t", kKeyAllAccess, key.Put(), &disposition), 0u);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    // A read handle writes no values.
    ASSERT_EQ(RegOpenKeyExA(base.Get(), "", kKeyRead, key.Put()), 0u);
    uint32_t v = 1;
    EXPECT_EQ(RegSetValueExA(key.Get(), "v", kRegDword, reinterpret_cast<uint8_t*>(&v), 4), 5u);
    EXPECT_EQ(RegDeleteValueA(key.Get(), "v"), 5u);
    // Buffers too small for a name or data.
    ASSERT_EQ(RegSetValueExA(base.Get(), "abcdef", kRegBinary, reinterpret_cast<const uint8_t*>("123456"), 6), 0u);
    char name[8];
    uint32_t size = 6;
    EXPECT_EQ(RegEnumValueA(base.Get(), 0, name, &size, nullptr, nullptr, nullptr), 234u);
    size = 7;
    uint32_t type = 0, dataSize = 6;
    uint8_t data[6];
    EXPECT_EQ(RegEnumValueA(base.Get(), 0, name, &size, &type, data, &dataSize), 0u);
    EXPECT_EQ(std::string(name), "abcdef");
    EXPECT_EQ(type, kRegBinary);
    dataSize = 5;
    EXPECT_EQ(RegQueryValueExA(base.Get(), "ABCDEF", &type, data, &dataSize), 234u);
    EXPECT_EQ(dataSize, 6u);
    EXPECT_EQ(RegEnumValueA(base.Get(), 1, name, &size, nullptr, nullptr, nullptr), 259u);
    // Keys: no deletion of a key with subkeys, nor of a hive's root.
    ASSERT_EQ(RegCreateKeyExA(base.Get(), "a\\b", kKeyAllAccess, key.Put(), nullptr), 0u);
    EXPECT_EQ(RegDeleteKeyA(base.Get(), "a"), 5u);
    EXPECT_EQ(RegDeleteKeyA(kHKeyCurrentUser, ""), 5u);
    EXPECT_EQ(RegDeleteKeyA(base.Get(), "a\\b"), 0u);
    EXPECT_EQ(RegDeleteKeyA(base.Get(), "a"), 0u);
    EXPECT_EQ(RegDeleteKeyA(base.Get(), "a"), 2u);
    uint32_t subkeys = 9, longest = 9, values = 9, longestValue = 9;
    EXPECT_EQ(RegQueryInfoKeyA(base.Get(), &subkeys, &longest, &values, &longestValue), 0u);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(longestValue, 6u);
    key.Reset();
    EXPECT_EQ(RegCloseKey(nullptr), 6u);
    ASSERT_EQ(RegDeleteKeyA(kHKeyCurrentUser, "Software\\T"), 0u);
    EXPECT_EQ(RegSetValueExA(base.Get(), "v", kRegDword, reinterpret_cast<uint8_t*>(&v), 4), 1018u);
}

// --- reads answered from memory ---------------------------------------------

uint32_t ReadDword(plat::RegKeyHandle key, const char* name, uint32_t* value) {
    uint32_t size = 4;
    return plat::RegQueryValueExA(key, name, nullptr, reinterpret_cast<uint8_t*>(value), &size);
}

uint32_t WriteDword(plat::RegKeyHandle key, const char* name, uint32_t value) {
    return plat::RegSetValueExA(key, name, plat::kRegDword, reinterpret_cast<const uint8_t*>(&value), 4);
}

uint32_t OpenStatus(plat::RegKeyHandle parent, const char* subkey) {
    plat::RegKey key;
    return plat::RegOpenKeyExA(parent, subkey, plat::kKeyRead, key.Put());
}

// Every read is repeated after another process changed what it found:
// values, a deleted value, a deleted key reached through a handle held
// across the change, a key that appears.
TEST_F(RegistryStoreTest, RepeatedReadsSeeOtherProcessesChanges) {
    using namespace plat;
    RegKey base, held;
    ASSERT_EQ(RegCreateKeyExA(kHKeyLocalMachine, "Software\\Cache\\Held", kKeyAllAccess, held.Put(), nullptr), 0u);
    ASSERT_EQ(RegOpenKeyExA(kHKeyLocalMachine, "Software\\Cache", kKeyAllAccess, base.Put()), 0u);
    ASSERT_EQ(WriteDword(base.Get(), "n", 0), 0u);
    ASSERT_EQ(WriteDword(base.Get(), "gone", 1), 0u);
    uint32_t n = 0;
    // Twice each, so that the second answer can come from memory.
    for (int i = 0; i < 2; ++i) {
        n = 99;
        EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(ReadDword(base.Get(), "gone", &n), 0u);
        EXPECT_EQ(OpenStatus(base.Get(), "Later"), 2u);
        EXPECT_EQ(OpenStatus(base.Get(), "held"), 0u);
        EXPECT_EQ(OpenStatus(held.Get(), nullptr), 0u);
        EXPECT_EQ(ReadDword(held.Get(), "x", &n), 2u);
    }
    int rc = InChild([] {
        RegKey key;
        if (RegOpenKeyExA(kHKeyLocalMachine, "Software\\Cache", kKeyAllAccess, key.Put()) != 0) return 1;
        if (WriteDword(key.Get(), "n", 1) != 0) return 2;
        if (RegDeleteValueA(key.Get(), "gone") != 0) return 3;
        if (RegDeleteKeyA(key.Get(), "Held") != 0) return 4;
        RegKey later;
        if (RegCreateKeyExA(key.Get(), "Later", kKeyAllAccess, later.Put(), nullptr) != 0) return 5;
        return 0;
    });
    ASSERT_EQ(rc, 0);
    n = 99;
    EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(ReadDword(base.Get(), "gone", &n), 2u);
    EXPECT_EQ(OpenStatus(base.Get(), "Later"), 0u);
    EXPECT_EQ(OpenStatus(base.Get(), "Held"), 2u);
    EXPECT_EQ(OpenStatus(held.Get(), nullptr), 1018u);
    EXPECT_EQ(ReadDword(held.Get(), "x", &n), 1018u);
    // Through the registry object: the key it stands on disappears.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("Doomed"), 1), S_OK);
    EXPECT_EQ(ReadString(Reg(), "s"), "<" + std::to_string(uint32_t(kNotFound)) + ">");
    EXPECT_EQ(ReadString(Reg(), "s"), "<" + std::to_string(uint32_t(kNotFound)) + ">");
    rc = InChild([] {
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return 1;
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) return 2;
        return r->DeleteKey(COM_TEXT("Doomed")) == S_OK ? 0 : 3;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadString(Reg(), "s"), "<" + std::to_string(uint32_t(COM_STATUS_FROM_WIN32(1018))) + ">");

    // Rounds of read, change elsewhere, read again.
    for (uint32_t round = 1; round <= 20; ++round) {
        ASSERT_EQ(ReadDword(base.Get(), "n", &n), 0u);
        ASSERT_EQ(n, round);
        rc = InChild([round] {
            RegKey key;
            uint32_t seen = 0;
            if (RegOpenKeyExA(kHKeyLocalMachine, "Software\\Cache", kKeyAllAccess, key.Put()) != 0) return 1;
            if (ReadDword(key.Get(), "n", &seen) != 0 || seen != round) return 2;
            return WriteDword(key.Get(), "n", round + 1) == 0 ? 0 : 3;
        });
        ASSERT_EQ(rc, 0) << round;
        ASSERT_EQ(ReadDword(base.Get(), "n", &n), 0u);
        ASSERT_EQ(n, round + 1);
    }
    // Another connection of this very process.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(HiveFile("machine.db").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE vals SET data=x'2A000000' WHERE type=4", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    EXPECT_EQ(n, 42u);
}

// A child inherits what its parent had read and must not answer from it.
TEST_F(RegistryStoreTest, ForkedChildReadsCurrentValues) {
    using namespace plat;
    RegKey base;
    ASSERT_EQ(RegCreateKeyExA(kHKeyCurrentUser, "Software\\Fork", kKeyAllAccess, base.Put(), nullptr), 0u);
    ASSERT_EQ(WriteDword(base.Get(), "n", 1), 0u);
    uint32_t n = 0;
    ASSERT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    ASSERT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t pid = fork();
    if (pid == 0) {
        char c = 0;
        if (read(go[0], &c, 1) != 1) _exit(1);
        uint32_t seen = 0;
        if (ReadDword(base.Get(), "n", &seen) != 0 || seen != 2) _exit(2);
        _exit(WriteDword(base.Get(), "n", 3) == 0 ? 0 : 3);
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WriteDword(base.Get(), "n", 2), 0u);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    close(go[0]);
    close(go[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    EXPECT_EQ(ReadDword(base.Get(), "n", &n), 0u);
    EXPECT_EQ(n, 3u);
}

// A writer killed inside its transaction, after its pages reached the
// journal: readers keep seeing what was committed, nothing of the rest.
TEST_F(RegistryStoreTest, WriterKilledMidTransactionLeavesNoPhantoms) {
    const std::string file = HiveFile("machine.db");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("Kept"), 0), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("v"), COM_TEXT("old")), S_OK);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ReadString(Reg(), "v"), "old");
        EXPECT_EQ(Reg()->OpenKey(COM_TEXT("Phantom")), kNotFound);
    }
    const auto journalBefore = fs::file_size(file + "-wal");
    pid_t pid = fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) _exit(1);
        sqlite3_busy_timeout(db, 10000);
        // A tiny page cache makes the transaction spill its pages into the
        // journal before it commits.
        const char* sql =
            "PRAGMA cache_size=2; BEGIN IMMEDIATE;"
            "UPDATE vals SET data=randomblob(3000);"
            "DELETE FROM keys WHERE name='Kept';"
            "INSERT INTO keys(parent, name, folded) VALUES(1, 'Phantom', x'007000680061006E0074006F006D');"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
            " INSERT INTO vals(key, name, folded, type, data) SELECT 1, 'p' || i, CAST('p' || i AS BLOB), 3,"
            " randomblob(4000) FROM n;";
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) _exit(2);
        raise(SIGKILL);
        _exit(3);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed: " << WEXITSTATUS(status);
    EXPECT_GT(fs::file_size(file + "-wal"), journalBefore) << "the writer's pages reached the journal";

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ReadString(Reg(), "v"), "old");
        EXPECT_EQ(Reg()->OpenKey(COM_TEXT("Phantom")), kNotFound);
        EXPECT_EQ(ValueNames(Reg()), std::vector<std::string>{"v"});
        EXPECT_EQ(KeyNames(Reg()), std::vector<std::string>{"Kept"});
    }
    int rc = InChild([] {
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return 1;
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) return 2;
        if (ReadString(r.Get(), "v") != "old") return 3;
        if (r->OpenKey(COM_TEXT("Phantom")) != kNotFound) return 4;
        return r->OpenKey(COM_TEXT("Kept")) == S_OK ? 0 : 5;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("v"), COM_TEXT("new")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "v"), "new");
    EXPECT_EQ(Query(file, "PRAGMA integrity_check"), "ok");
}

// A writer that died between writing the two copies of the journal index
// header leaves them different; the copy it had not reached yet still
// matches what this process saw before. The change it committed is read.
TEST_F(RegistryStoreTest, HalfWrittenIndexHeaderIsNotTrusted) {
    const std::string file = HiveFile("machine.db");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("v"), COM_TEXT("one")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "v"), "one");
    EXPECT_EQ(ReadString(Reg(), "v"), "one");
    // The index file is touched in the child only: closing a descriptor of
    // it here would drop this process's locks on it.
    int rc = InChild([&file] {
        int fd = open((file + "-shm").c_str(), O_RDWR | O_CLOEXEC);
        char before[48], after[96];
        if (fd < 0 || pread(fd, before, sizeof before, 0) != ssize_t(sizeof before)) return 1;
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return 2;
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) return 3;
        if (r->SetStringValue(COM_TEXT("v"), COM_TEXT("two")) != S_OK) return 4;
        if (pread(fd, after, sizeof after, 0) != ssize_t(sizeof after)) return 5;
        if (std::memcmp(after, after + 48, 48) != 0 || std::memcmp(after, before, 48) == 0) return 6;
        // The first copy as it was: the state of a writer killed after
        // writing the second.
        return pwrite(fd, before, sizeof before, 0) == ssize_t(sizeof before) ? 0 : 7;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ReadString(Reg(), "v"), "two");
    EXPECT_EQ(ReadString(Reg(), "v"), "two");
    EXPECT_EQ(Query(file, "PRAGMA integrity_check"), "ok");
}

} // namespace
} // namespace tavo::test

namespace tavo::test {
namespace {

// A host that opens and closes the hive file itself drops this process's
// POSIX locks on it. Another process's last connection, closing, would then
// take the exclusive lock, checkpoint and delete the WAL that this process
// still writes into: the store's own lock must prevent that.
TEST_F(RegistryStoreTest, HostClosingTheHiveFileLosesNoChange) {
    const std::string file = HiveFile("machine.db");
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("before"), COM_TEXT("1")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "before"), "1");

    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    close(fd);

    int rc = InChild([&file] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return 1;
        int ok = sqlite3_exec(db, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return ok == SQLITE_OK ? 0 : 2;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(fs::exists(file + "-wal"));
    EXPECT_TRUE(fs::exists(file + "-shm"));

    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("after"), COM_TEXT("2")), S_OK);
    rc = InChild([] {
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return 1;
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK) return 2;
        if (ReadString(r.Get(), "before") != "1") return 3;
        return ReadString(r.Get(), "after") == "2" ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Query(file, "PRAGMA integrity_check"), "ok");
}

} // namespace
} // namespace tavo::test
