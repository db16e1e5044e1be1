// SQLite's own verdict on a hive file of the Linux registry store.
#ifndef TAVOCOM_TESTS_STORE_INTEGRITY_H
#define TAVOCOM_TESTS_STORE_INTEGRITY_H

#include <sqlite3.h>

#include <string>

namespace tavo::test {

/// The first answer of `sql` on the file, opened read-only by a connection
/// of its own; "<failed>" when there is none.
inline std::string QueryHive(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    std::string result = "<failed>";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return result;
}

/// Runs `sql` on the file through a connection of its own; false when that
/// fails.
inline bool ExecHive(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK && sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

/// "ok" for a sound file.
inline std::string IntegrityOf(const std::string& file) { return QueryHive(file, "PRAGMA integrity_check"); }

} // namespace tavo::test

#endif
