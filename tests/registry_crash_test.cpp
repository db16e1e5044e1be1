// Writers of key trees, long values and class registrations killed at
// random moments: after every kill the store passes
// SQLite's integrity check, each call that returned is there whole, and the
// one in flight is there whole or not at all. TAVOCOM_CRASH_KILLS sets the
// number of kills (50 by default).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include <tavocom/library_entry.h>

#include "registry_fixture.h"
#include "store_integrity.h"

namespace tavo::test {
namespace {


// Step i of a writer: a key three levels deep named by i, holding a value
// of a length that depends on i (up to 20,000 characters) and a number.
std::basic_string<COM_WCHAR> StepKey(int i) { return W("crash\\t" + std::to_string(i % 7) + "\\s" + std::to_string(i)); }
std::basic_string<COM_WCHAR> StepText(int i) { return std::basic_string<COM_WCHAR>(size_t(1 + (i * 7919) % 20000), COM_WCHAR('a' + i % 26)); }

// The writer: reports each completed step on `done` and goes on until killed.
[[noreturn]] void Writer(int first, int done) {
    utlAutoIf<COM_IRegistry> r;
    if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) _exit(1);
    for (int i = first;; ++i) {
        // One step is three calls, and every fifth registers the runtime's
        // classes; it counts as completed when all of them returned.
        if (r->Open(COM_REGROOT_MACHINE, nullptr) != S_OK || r->CreateKey(StepKey(i).c_str(), 1) != S_OK ||
            r->SetStringValue(COM_TEXT("text"), StepText(i).c_str()) != S_OK ||
            r->SetDWordValue(COM_TEXT("n"), uint32_t(i)) != S_OK || (i % 5 == 0 && DllRegisterServer() != S_OK))
            _exit(2);
        if (write(done, &i, sizeof i) != sizeof i) _exit(3);
    }
}

// Whether step i is in the store: 1 whole, 0 absent, -1 torn.
int StepState(COM_IRegistry* r, int i) {
    if (r->Open(COM_REGROOT_MACHINE, StepKey(i).c_str()) != S_OK) return 0;
    uint32_t n = ~0u;
    const bool hasText = ReadString(r, "text") == Narrow(StepText(i));
    const bool hasNumber = r->GetDWordValue(COM_TEXT("n"), &n) == S_OK && n == uint32_t(i);
    if (hasText && hasNumber) return 1;
    // The key alone, or the key and its text, is a step cut between calls.
    uint32_t ignored = 0;
    const bool noText = ReadString(r, "text").front() == '<';
    const bool noNumber = r->GetDWordValue(COM_TEXT("n"), &ignored) != S_OK;
    return (noText && noNumber) || (hasText && noNumber) ? 0 : -1;
}

TEST_F(RegistryTest, WritersKilledAtRandomMomentsLeaveWholeCalls) {
    if (!HiveFilesAvailable()) GTEST_SKIP() << "the platform's registry has no files of ours to kill a writer over";
    const char* setting = std::getenv("TAVOCOM_CRASH_KILLS");
    const int kills = setting ? std::atoi(setting) : 50;
    std::mt19937 random(20261206);
    int next = 0, completed = 0;
    bool registered = false;
    // The hive exists before the first writer, however early that one dies.
    ASSERT_EQ(Reg()->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("crash"), 0), S_OK);
    for (int kill = 0; kill < kills; ++kill) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(pipeFds[0]);
            Writer(next, pipeFds[1]);
        }
        ASSERT_GT(pid, 0);
        close(pipeFds[1]);
        // Every other writer is killed only after its first step, so that
        // the loop also gets past the opening of a fresh connection.
        int last = next - 1, step = 0;
        if (kill % 2 == 1 && read(pipeFds[0], &step, sizeof step) == sizeof step) last = step;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << WEXITSTATUS(status);
        while (read(pipeFds[0], &step, sizeof step) == sizeof step) last = step;
        close(pipeFds[0]);

        ASSERT_EQ(IntegrityOf(HiveFile("machine.db")), "ok") << "after kill " << kill;
        for (int i = next; i <= last; ++i) {
            ASSERT_EQ(StepState(Reg(), i), 1) << "completed step " << i << ", kill " << kill;
            registered = registered || i % 5 == 0;
        }
        ASSERT_NE(StepState(Reg(), last + 1), -1) << "step in flight torn, kill " << kill;
        completed += last - next + 1;
        next = last + 2; // the step in flight may be there or not: never used again
    }
    EXPECT_GE(completed, kills / 2) << "the writers were killed before they wrote anything";
    // After a completed registration the classes are found by their ProgIDs.
    if (registered) {
        _COM_GUID clsid{};
        EXPECT_EQ(COM_GetCLSIDFromProgID(COM_TEXT("TelvaCom.Memory"), &clsid), S_OK);
        EXPECT_TRUE(clsid == COM_CLSID_Memory);
    }
}

} // namespace
} // namespace tavo::test
