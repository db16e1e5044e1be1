// Processes at the same keys at once: a reader enumerating a tree that
// another process deletes, and writers of one and the same value and of
// keys of their own. No busy
// status ever surfaces, and every failure is one the platform gives.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "registry_fixture.h"
#include "store_integrity.h"

namespace tavo::test {
namespace {

const COM_HRESULT kBusy = COM_STATUS_FROM_WIN32(170);

// What a reader may meet in a tree that is being deleted under it.
bool CleanError(COM_HRESULT hr) {
    return hr == S_OK || hr == S_FALSE || hr == E_FAIL || hr == COM_STATUS_FROM_WIN32(2) ||
           hr == COM_STATUS_FROM_WIN32(1018) || hr == COM_STATUS_FROM_WIN32(259);
}

template <class F>
pid_t Spawn(F body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitOf(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

utlAutoIf<COM_IRegistry> NewChildRegistry() {
    utlAutoIf<COM_IRegistry> r;
    if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) r.Reset(nullptr);
    return r;
}

TEST_F(RegistryTest, ReaderEnumeratesWhileAnotherProcessDeletesTheTree) {
    if (!HiveFilesAvailable()) GTEST_SKIP() << "processes of this build share no store of ours";
    for (int round = 0; round < 5; ++round) {
        OpenRoot(COM_REGROOT_USER);
        for (int a = 0; a < 20; ++a)
            for (int b = 0; b < 10; ++b)
                ASSERT_EQ(Reg()->CreateKey(W("tree\\a" + std::to_string(a) + "\\b" + std::to_string(b)).c_str(), 0), S_OK);
        const pid_t deleter = Spawn([] {
            auto r = NewChildRegistry();
            if (!r || r->Open(COM_REGROOT_USER, nullptr) != S_OK) return 1;
            return r->DeleteKey(COM_TEXT("tree")) == S_OK ? 0 : 2;
        });
        const pid_t reader = Spawn([] {
            auto r = NewChildRegistry();
            if (!r) return 1;
            for (int pass = 0; pass < 20; ++pass) {
                COM_HRESULT hr = r->Open(COM_REGROOT_USER, COM_TEXT("tree"));
                if (!CleanError(hr)) return 10;
                utlAutoIf<COM_IEnumBSTR> names;
                hr = r->EnumKeys(names.Put());
                if (!CleanError(hr)) return 11;
                if (!names) continue;
                for (;;) {
                    COM_BSTR name = nullptr;
                    uint32_t fetched = 0;
                    if (names->Next(1, &name, &fetched) != S_OK) break;
                    utlAutoBstr owned(name);
                    // Names the listing no longer reached stay null.
                    if (!name) continue;
                    hr = r->OpenKey(name);
                    if (!CleanError(hr)) {
                        fprintf(stderr, "OpenKey gave %08X\n", unsigned(hr));
                        return 12;
                    }
                    utlAutoIf<COM_IEnumBSTR> inner;
                    if (!CleanError(r->EnumKeys(inner.Put()))) return 13;
                    if (!CleanError(r->Open(COM_REGROOT_USER, COM_TEXT("tree")))) return 14;
                }
            }
            return 0;
        });
        EXPECT_EQ(ExitOf(reader), 0) << "round " << round;
        EXPECT_EQ(ExitOf(deleter), 0) << "round " << round;
        OpenRoot(COM_REGROOT_USER);
        EXPECT_EQ(Reg()->OpenKey(COM_TEXT("tree")), COM_STATUS_FROM_WIN32(2));
    }
    EXPECT_EQ(IntegrityOf(HiveFile("user.db")), "ok");
}

TEST_F(RegistryTest, WritersOfTheSameValueNeverSeeBusy) {
    if (!HiveFilesAvailable()) GTEST_SKIP() << "processes of this build share no store of ours";
    constexpr int kProcesses = 4, kWrites = 200;
    std::vector<pid_t> writers;
    for (int p = 0; p < kProcesses; ++p)
        writers.push_back(Spawn([p] {
            auto r = NewChildRegistry();
            if (!r) return 1;
            for (int i = 0; i < kWrites; ++i) {
                COM_HRESULT hr = r->Open(COM_REGROOT_USER, nullptr);
                if (hr == S_OK) hr = r->CreateKey(COM_TEXT("same"), 1);
                if (hr == S_OK) hr = r->SetDWordValue(COM_TEXT("n"), uint32_t(p * kWrites + i));
                // And a key of the writer's own.
                if (hr == S_OK) hr = r->Open(COM_REGROOT_USER, nullptr);
                if (hr == S_OK) hr = r->CreateKey(W("own" + std::to_string(p) + "\\k" + std::to_string(i)).c_str(), 0);
                if (hr == kBusy) return 2;
                if (hr != S_OK) return 3;
            }
            return 0;
        }));
    for (pid_t pid : writers) EXPECT_EQ(ExitOf(pid), 0);
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->OpenKey(COM_TEXT("same")), S_OK);
    uint32_t n = ~0u;
    ASSERT_EQ(Reg()->GetDWordValue(COM_TEXT("n"), &n), S_OK);
    EXPECT_EQ(n % kWrites, uint32_t(kWrites - 1)) << "the last write of some writer stands";
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_EQ(Reg()->Open(COM_REGROOT_USER, W("own" + std::to_string(p)).c_str()), S_OK);
        EXPECT_EQ(KeyNames(Reg()).size(), size_t(kWrites));
    }
    EXPECT_EQ(IntegrityOf(HiveFile("user.db")), "ok");
}

} // namespace
} // namespace tavo::test
