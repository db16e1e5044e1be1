// A full disk under the registry store: the call that cannot be written
// fails with the platform's disk-full status, the store stays intact, reads
// go on, and the next call after space returns works, also for a hive's
// first write. Made twice: on a small file system of the test's own where
// one can be mounted, and through the store's fault layer (sanitizer build).
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/registry.h"
#include "registry_fixture.h"
#include "store_integrity.h"

namespace tavo::test {
namespace {

const COM_HRESULT kDiskFull = COM_STATUS_FROM_WIN32(112);

std::atomic<bool> g_diskFull{false};

/// Makes a hive file holding string value "v" = "kept" in the user root,
/// with every commit in the main file and no side files, as the last
/// process to close a hive leaves it: made at `seed` through the store,
/// then copied to `hive`.
void MakeClosedHive(COM_IRegistry* r, const std::string& seed, const std::string& hive) {
    SetEnv("TAVOCOM_USER_HIVE", seed.c_str());
    ASSERT_EQ(r->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(r->SetStringValue(COM_TEXT("v"), COM_TEXT("kept")), S_OK);
    ASSERT_TRUE(ExecHive(seed, "PRAGMA wal_checkpoint(TRUNCATE)"));
    std::ifstream from(seed, std::ios::binary);
    std::ofstream to(hive, std::ios::binary);
    to << from.rdbuf();
    SetEnv("TAVOCOM_USER_HIVE", hive.c_str());
}

/// That hive on a full disk (`full(true)`): reads answer, from a fresh
/// connection (which makes no side files, where `noSideFiles`) and after a
/// refused change, and every change fails with the disk-full status. With
/// room again (`full(false)`) the change is made and nothing was lost.
template <class Full>
void ReadsGoOnWhileFull(utlAutoIf<COM_IRegistry>& reg, const std::string& hive, bool noSideFiles, Full full) {
    full(true);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "first read" : "read after a refused change");
        reg = NewRegistry();
        ASSERT_EQ(reg->Open(COM_REGROOT_USER, nullptr), S_OK);
        EXPECT_EQ(ReadString(reg.Get(), "v"), "kept");
        EXPECT_EQ(ValueNames(reg.Get()), std::vector<std::string>{"v"});
        EXPECT_FALSE(pass == 0 && noSideFiles && access((hive + "-shm").c_str(), F_OK) == 0) << "a side file made";
        EXPECT_EQ(reg->SetStringValue(COM_TEXT("w"), COM_TEXT("new")), kDiskFull);
        EXPECT_EQ(reg->DeleteValue(COM_TEXT("v")), kDiskFull);
    }
    full(false);
    EXPECT_EQ(reg->SetStringValue(COM_TEXT("w"), COM_TEXT("new")), S_OK);
    EXPECT_EQ(ReadString(reg.Get(), "w"), "new");
    EXPECT_EQ(ReadString(reg.Get(), "v"), "kept");
    EXPECT_EQ(IntegrityOf(hive), "ok");
}

// The hive files on a small file system of the test's own (a tmpfs of
// 1 MiB), which a filler file can fill to the last byte.
class DiskFullTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        char dir[] = "/tmp/tavocom-full-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        if (mount("tmpfs", dir, "tmpfs", 0, "size=1m,mode=0755") != 0) {
            rmdir(dir);
            m_dir.clear();
            GTEST_SKIP() << "no file system of our own can be mounted here (" << std::strerror(errno) << ")";
        }
        SetEnv("TAVOCOM_USER_HIVE", (m_dir + "/user.db").c_str());
    }
    void TearDown() override {
        if (!m_dir.empty()) {
            m_reg.Reset(nullptr);
            // The store keeps its connection until the process ends; the
            // mount goes when that connection does.
            umount2(m_dir.c_str(), MNT_DETACH);
            rmdir(m_dir.c_str());
            SetEnv("TAVOCOM_USER_HIVE", HiveFile("user.db").c_str());
            m_reg = NewRegistry();
        }
        RegistryTest::TearDown();
    }
    void Fill() {
        std::FILE* f = std::fopen((m_dir + "/filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        static const char block[4096] = {};
        while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {}
        while (std::fwrite(block, 1, 1, f) == 1) {}
        std::fclose(f);
    }
    void Free() { ASSERT_EQ(std::remove((m_dir + "/filler").c_str()), 0); }

    std::string m_dir;
};

TEST_F(DiskFullTest, FirstWriteOfAFreshHive) {
    Fill();
    // The store reports the full disk; Open then falls back to reading the
    // root, which does not exist yet, and reports that, as it does on the
    // platform registry.
    plat::RegKey key;
    EXPECT_EQ(plat::RegCreateKeyExA(plat::kHKeyCurrentUser, "Software", plat::kKeyAllAccess, key.Put(), nullptr), 112u);
    EXPECT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), COM_STATUS_FROM_WIN32(2));
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("k"), 0), E_FAIL) << "no key is open after a failed Open";
    Free();
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("v"), COM_TEXT("written")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "v"), "written");
    EXPECT_EQ(IntegrityOf(m_dir + "/user.db"), "ok");
}

TEST_F(DiskFullTest, WritesFailCleanlyAndResumeWhenSpaceReturns) {
    ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, nullptr), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("before"), COM_TEXT("x")), S_OK);
    Fill();
    const WString text(8192, COM_WCHAR('v'));
    int written = 0;
    COM_HRESULT hr = S_OK;
    for (; written < 1000; ++written) {
        hr = Reg()->SetStringValue(W("v" + std::to_string(written)).c_str(), text.c_str());
        if (hr != S_OK) break;
    }
    EXPECT_EQ(hr, kDiskFull);
    EXPECT_EQ(IntegrityOf(m_dir + "/user.db"), "ok");
    Free();
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("after"), COM_TEXT("y")), S_OK);
    EXPECT_EQ(ReadString(Reg(), "before"), "x");
    for (int i = 0; i < written; ++i) EXPECT_EQ(ReadString(Reg(), ("v" + std::to_string(i)).c_str()), Narrow(text)) << i;
    EXPECT_EQ(IntegrityOf(m_dir + "/user.db"), "ok");
}

// A hive no process has open, on a disk that filled up meanwhile.
TEST_F(DiskFullTest, ReadsGoOnWhileFull) {
    const std::string hive = m_dir + "/user.db";
    MakeClosedHive(Reg(), HiveFile("seed.db"), hive);
    ReadsGoOnWhileFull(m_reg, hive, true, [&](bool full) { full ? Fill() : Free(); });
}

// The same through the store's fault layer, which fails every write that
// takes room; then a change through a connection that was open before.
TEST_F(RegistryTest, FullDiskOfTheFaultLayer) {
    const std::string hive = HiveFile("full.db");
    if (!HiveFilesAvailable()) GTEST_SKIP();
    MakeClosedHive(Reg(), HiveFile("seed.db"), hive);
    g_diskFull = true;
    plat::RegKey probe;
    const bool faults = plat::RegCreateKeyExA(plat::kHKeyCurrentUser, "k", plat::kKeyAllAccess, probe.Put(), nullptr) == 112;
    g_diskFull = false;
    if (!faults) GTEST_SKIP() << "the store's fault points are compiled into the sanitizer build only";
    ReadsGoOnWhileFull(m_reg, hive, false, [](bool full) { g_diskFull = full; });
    g_diskFull = true;
    EXPECT_EQ(Reg()->SetStringValue(COM_TEXT("w"), COM_TEXT("newer")), kDiskFull);
    EXPECT_EQ(Reg()->CreateKey(COM_TEXT("k"), 0), kDiskFull);
    EXPECT_EQ(ReadString(Reg(), "w"), "new");
    g_diskFull = false;
    EXPECT_EQ(IntegrityOf(hive), "ok");
}

} // namespace
} // namespace tavo::test

// The store's fault points: only its disk runs full, and only when a test
// says so.
COM_COMPONENT_EXPORT int tavocom_fault_point(int kind) {
    return kind == int(tavo::plat::Fault::DiskFull) && tavo::test::g_diskFull;
}
