// Where the hive files are, and the hives this process has in use.
#include <pwd.h>

#include <cstdlib>
#include <map>

#include "platform/posix/registry/store.h"

namespace tavo::plat::store {
namespace {

std::string UserHomeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
    return "/tmp";
}

/// Read at every use, so that a process (or a test) may move its hives.
std::string HivePath(bool machine) {
    const char* over = std::getenv(machine ? "TAVOCOM_MACHINE_HIVE" : "TAVOCOM_USER_HIVE");
    if (over && *over) return over;
    if (machine) return "/var/lib/tavocom/machine.db";
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/tavocom/user.db";
    return UserHomeDir() + "/.local/share/tavocom/user.db";
}

struct HiveTable {
    std::mutex mu; // guards hives
    std::map<std::pair<bool, std::string>, std::shared_ptr<Hive>> hives;
};

HiveTable& Hives() {
    static HiveTable table;
    return table;
}

} // namespace

std::shared_ptr<Hive> HiveFor(bool machine) {
    std::string path = HivePath(machine);
    HiveTable& t = Hives();
    std::lock_guard<std::mutex> lock(t.mu);
    std::shared_ptr<Hive>& slot = t.hives[{machine, path}];
    if (!slot) {
        slot = std::make_shared<Hive>(path, machine);
        // Hive files no handle refers to any more are closed once many
        // have been used (tests move from file to file).
        if (t.hives.size() > 8) {
            for (auto it = t.hives.begin(); it != t.hives.end();) {
                if (it->second.use_count() == 1 && it->second != slot) it = t.hives.erase(it);
                else ++it;
            }
        }
    }
    return slot;
}

} // namespace tavo::plat::store
