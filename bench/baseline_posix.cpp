// The bare SQLite statements behind the registry store's work: one
// connection of its own to the same hive file, prepared statements, the
// same journal and durability settings, no registry object in between.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "baseline.h"

namespace tavo::bench {
namespace {

std::string g_dir;

struct Bare {
    sqlite3* db = nullptr;
    sqlite3_stmt* findChild = nullptr;
    sqlite3_stmt* getValue = nullptr;
    sqlite3_stmt* insertKey = nullptr;
    sqlite3_stmt* setValue = nullptr;
    sqlite3_stmt* begin = nullptr;
    sqlite3_stmt* commit = nullptr;

    Bare() {
        sqlite3_open_v2((g_dir + "/machine.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        sqlite3_busy_timeout(db, 10000);
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        auto prep = [&](const char* sql, sqlite3_stmt** s) { sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, s, nullptr); };
        prep("SELECT id FROM keys WHERE parent=?1 AND folded=?2", &findChild);
        prep("SELECT type, data FROM vals WHERE key=?1 AND folded=?2", &getValue);
        prep("INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)", &insertKey);
        prep("INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
             "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
             &setValue);
        prep("BEGIN IMMEDIATE", &begin);
        prep("COMMIT", &commit);
    }

    static std::string Folded(const std::string& ascii) {
        std::string f;
        for (char c : ascii) {
            f.push_back('\0');
            f.push_back(c >= 'A' && c <= 'Z' ? char(c + 32) : c);
        }
        return f;
    }

    int64_t Child(int64_t parent, const std::string& name) {
        std::string f = Folded(name);
        sqlite3_bind_int64(findChild, 1, parent);
        sqlite3_bind_blob(findChild, 2, f.data(), int(f.size()), SQLITE_STATIC);
        int64_t id = sqlite3_step(findChild) == SQLITE_ROW ? sqlite3_column_int64(findChild, 0) : 0;
        sqlite3_reset(findChild);
        return id;
    }

    void Run(sqlite3_stmt* s) {
        sqlite3_step(s);
        sqlite3_reset(s);
    }

    bool SetValue(int64_t key, const std::string& name, int type, const void* data, int size) {
        std::string f = Folded(name);
        Run(begin);
        sqlite3_bind_int64(setValue, 1, key);
        sqlite3_bind_text(setValue, 2, name.data(), int(name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(setValue, 3, f.data(), int(f.size()), SQLITE_STATIC);
        sqlite3_bind_int(setValue, 4, type);
        sqlite3_bind_blob(setValue, 5, data, size, SQLITE_STATIC);
        bool ok = sqlite3_step(setValue) == SQLITE_DONE;
        sqlite3_reset(setValue);
        Run(commit);
        return ok;
    }
};

Bare& Connection() {
    static Bare bare;
    return bare;
}

} // namespace

void PrepareRegistry(const std::string& version) {
    g_dir = (std::filesystem::temp_directory_path() / ("tavocom-bench-" + version)).string();
    std::filesystem::create_directories(g_dir);
    setenv("TAVOCOM_MACHINE_HIVE", (g_dir + "/machine.db").c_str(), 1);
    setenv("TAVOCOM_USER_HIVE", (g_dir + "/user.db").c_str(), 1);
    setenv("COM_VERSION", version.c_str(), 1);
}

void CleanUpRegistry() {
    std::error_code ignored;
    std::filesystem::remove_all(g_dir, ignored);
}

// Every level of the path is one indexed lookup; then the value.
std::string BareReadSequence(const std::string& version, const std::string& clsid) {
    Bare& b = Connection();
    int64_t id = 1;
    for (const std::string& level :
         {std::string("Software"), std::string("Quorvalltech"), version, std::string("Classes"), std::string("CLSID"), clsid,
          std::string("InprocServer32")})
        id = b.Child(id, level);
    sqlite3_bind_int64(b.getValue, 1, id);
    sqlite3_bind_blob(b.getValue, 2, "", 0, SQLITE_STATIC);
    std::string text;
    if (sqlite3_step(b.getValue) == SQLITE_ROW)
        text.assign(static_cast<const char*>(sqlite3_column_blob(b.getValue, 1)), size_t(sqlite3_column_bytes(b.getValue, 1)));
    sqlite3_reset(b.getValue);
    return text;
}

// Three write transactions: the key, the string, the number.
bool BareWriteSequence(const std::string& version, const std::string& name) {
    Bare& b = Connection();
    int64_t classes = 1;
    for (const std::string& level : {std::string("Software"), std::string("Quorvalltech"), version, std::string("Classes")})
        classes = b.Child(classes, level);
    b.Run(b.begin);
    std::string f = Bare::Folded(name);
    sqlite3_bind_int64(b.insertKey, 1, classes);
    sqlite3_bind_text(b.insertKey, 2, name.data(), int(name.size()), SQLITE_STATIC);
    sqlite3_bind_blob(b.insertKey, 3, f.data(), int(f.size()), SQLITE_STATIC);
    bool ok = sqlite3_step(b.insertKey) == SQLITE_DONE;
    sqlite3_reset(b.insertKey);
    int64_t key = sqlite3_last_insert_rowid(b.db);
    b.Run(b.commit);
    uint32_t n = 7;
    ok = ok && b.SetValue(key, "Text", 1, "value", 6);
    ok = ok && b.SetValue(key, "Number", 4, &n, 4);
    return ok;
}

// Straight into the tables, with the store's folding of ASCII names.
bool FillNames(const std::string& version, const std::string& path, int count) {
    Bare& b = Connection();
    b.Run(b.begin);
    int64_t id = 1;
    bool ok = true;
    auto child = [&](int64_t parent, const std::string& name) {
        int64_t found = b.Child(parent, name);
        if (found) return found;
        const std::string f = Bare::Folded(name);
        sqlite3_bind_int64(b.insertKey, 1, parent);
        sqlite3_bind_text(b.insertKey, 2, name.data(), int(name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(b.insertKey, 3, f.data(), int(f.size()), SQLITE_STATIC);
        ok = ok && sqlite3_step(b.insertKey) == SQLITE_DONE;
        sqlite3_reset(b.insertKey);
        return int64_t(sqlite3_last_insert_rowid(b.db));
    };
    for (const std::string& level : {std::string("Software"), std::string("Quorvalltech"), version}) id = child(id, level);
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        id = child(id, path.substr(at, end - at));
        at = end + 1;
    }
    for (int i = 0; i < count && ok; ++i) {
        const std::string name = "name" + std::to_string(i), f = Bare::Folded(name);
        child(id, name);
        const uint32_t data = uint32_t(i);
        sqlite3_bind_int64(b.setValue, 1, id);
        sqlite3_bind_text(b.setValue, 2, name.data(), int(name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(b.setValue, 3, f.data(), int(f.size()), SQLITE_STATIC);
        sqlite3_bind_int(b.setValue, 4, 4);
        sqlite3_bind_blob(b.setValue, 5, &data, 4, SQLITE_STATIC);
        ok = sqlite3_step(b.setValue) == SQLITE_DONE;
        sqlite3_reset(b.setValue);
    }
    b.Run(b.commit);
    return ok;
}

int64_t BareWalkNames(const std::string& version, const std::string& path, bool values) {
    Bare& b = Connection();
    static sqlite3_stmt* walks[2] = {};
    sqlite3_stmt*& walk = walks[values];
    if (!walk)
        sqlite3_prepare_v3(b.db,
                           values ? "SELECT name FROM vals WHERE key=?1 ORDER BY folded"
                                  : "SELECT name FROM keys WHERE parent=?1 ORDER BY folded",
                           -1, SQLITE_PREPARE_PERSISTENT, &walk, nullptr);
    int64_t id = 1;
    for (const std::string& level : {std::string("Software"), std::string("Quorvalltech"), version}) id = b.Child(id, level);
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        id = b.Child(id, path.substr(at, end - at));
        at = end + 1;
    }
    sqlite3_bind_int64(walk, 1, id);
    int64_t n = 0;
    while (sqlite3_step(walk) == SQLITE_ROW) n += sqlite3_column_bytes(walk, 0) >= 0;
    sqlite3_reset(walk);
    return n;
}

// No platform calls for these exist here: the same work with the C and C++
// libraries.
void BaselineGuidRoundTrip(const _COM_GUID& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1, id.Data2,
                  id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    unsigned d1, d2, d3, b[8];
    std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                &b[6], &b[7]);
    benchmark::DoNotOptimize(d1);
}

void BaselineStringAllocFree(const COM_WCHAR* text) {
    std::u16string s(text);
    benchmark::DoNotOptimize(s.data());
}

bool RegisterPlatformActivationBaseline() { return false; }

namespace {
std::string g_loadFloorPath;
}

bool PrepareLoadFloor(const std::string& file) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&COM_CreateInstance), &info) == 0 || !info.dli_fname) return false;
    std::string runtime = info.dli_fname;
    size_t slash = runtime.rfind('/');
    if (slash == std::string::npos) return false;
    g_loadFloorPath = runtime.substr(0, slash + 1) + file;
    return true;
}

bool LoadFloor() {
    void* library = dlopen(g_loadFloorPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    bool ok = dlsym(library, "GetClassObject") && dlsym(library, "CanUnloadNow");
    dlclose(library);
    return ok;
}

} // namespace tavo::bench

namespace tavo::bench {

// No system message table here.
bool RegisterSystemMessageBaseline(uint32_t) { return false; }

} // namespace tavo::bench
