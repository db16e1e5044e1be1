// Where the hive files are, and the hives this process has in use.
#include <fcntl.h>
#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/posix/registry/store.h"
#include "platform/tool_calls.h"

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

/// Read at every use, so that a process (or a test) may move its hives
/// (StillAt compares without building it).
std::string HivePath(bool machine) {
    const char* over = std::getenv(machine ? "TAVOCOM_MACHINE_HIVE" : "TAVOCOM_USER_HIVE");
    if (over && *over) return over;
    if (machine) return "/var/lib/tavocom/machine.db";
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/tavocom/user.db";
    return UserHomeDir() + "/.local/share/tavocom/user.db";
}

/// Does `path` read `head` followed by `tail`?
bool Joins(const std::string& path, const char* head, const char* tail) {
    const size_t n = std::strlen(head);
    return path.compare(0, n, head) == 0 && path.compare(n, std::string::npos, tail) == 0;
}

/// Is the hive at `path` still where HivePath would put it? Answered from
/// the environment as it is now, without building the path; false also
/// when that cannot be told cheaply.
bool StillAt(bool machine, const std::string& path) {
    const char* over = std::getenv(machine ? "TAVOCOM_MACHINE_HIVE" : "TAVOCOM_USER_HIVE");
    if (over && *over) return path == over;
    if (machine) return path == "/var/lib/tavocom/machine.db";
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return Joins(path, data, "/tavocom/user.db");
    const char* home = std::getenv("HOME");
    return home && *home && Joins(path, home, "/.local/share/tavocom/user.db");
}

struct HiveTable {
    std::mutex mu; // guards everything below
    std::map<std::pair<bool, std::string>, std::shared_ptr<Hive>> hives;
    std::shared_ptr<Hive> last[2]; // the hive each predefined key reached last
};

HiveTable& Hives() {
    static HiveTable table;
    return table;
}

} // namespace

std::shared_ptr<Hive> HiveFor(bool machine) {
    HiveTable& t = Hives();
    {
        std::lock_guard<std::mutex> lock(t.mu);
        const std::shared_ptr<Hive>& last = t.last[machine];
        if (last && StillAt(machine, last->Path())) return last;
    }
    std::string path = HivePath(machine);
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
    t.last[machine] = slot;
    return slot;
}

} // namespace tavo::plat::store

namespace tavo::plat {
namespace {

const char* HiveVariable(bool machine) { return machine ? "TAVOCOM_MACHINE_HIVE" : "TAVOCOM_USER_HIVE"; }

/// What the store's first write would meet: an existing file must be
/// writable in a writable directory (SQLite puts its side files there);
/// for a missing one, the nearest existing ancestor must be a directory
/// this process may write, since the store makes the rest.
bool MayWriteAt(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        size_t slash = path.rfind('/');
        std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        return S_ISREG(st.st_mode) && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 &&
               faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    }
    std::string up = path;
    for (;;) {
        size_t slash = up.rfind('/');
        up = slash == std::string::npos ? "." : slash == 0 ? "/" : up.substr(0, slash);
        if (stat(up.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && faccessat(AT_FDCWD, up.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
        if (up == "/" || up == ".") return false;
    }
}

} // namespace

RegHiveLocation RegQueryHiveLocation(RegKeyHandle hive) {
    const bool machine = hive == kHKeyLocalMachine;
    std::string path = store::HivePath(machine);
    const char* over = std::getenv(HiveVariable(machine));
    bool writable = MayWriteAt(path);
    return {std::move(path), HiveVariable(machine), over && *over, writable, machine ? "root" : nullptr};
}

uint32_t RegMoveHive(RegKeyHandle hive, const char* file) {
    const char* name = HiveVariable(hive == kHKeyLocalMachine);
    int rc = file && *file ? setenv(name, file, 1) : unsetenv(name);
    return rc == 0 ? kErrorSuccess : store::FromErrno(errno);
}

} // namespace tavo::plat
