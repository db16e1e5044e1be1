// Every statement of the store: those prepared once per connection, the
// ones a connection runs when it opens or makes its tables, and the
// queries, transactions and write batches that run them.
#include <cstring>

#include "platform/posix/registry/store.h"

namespace tavo::plat::store {
namespace {

// `folded` orders subkeys and values as the platform lists them; an
// enumeration goes on from the folded name of an item it has seen (?2,
// empty for the first) by ?3 more items, and reads ?4 items from there.
const char* const kSql[kStmtCount] = {
    "SELECT id FROM keys WHERE parent=?1 AND folded=?2",
    "SELECT 1 FROM keys WHERE id=?1",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
    "DELETE FROM keys WHERE id=?1",
    "DELETE FROM vals WHERE key=?1",
    "SELECT type, data FROM vals WHERE key=?1 AND folded=?2",
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
    "DELETE FROM vals WHERE key=?1 AND folded=?2",
    "SELECT name, folded FROM keys WHERE parent=?1 AND folded>=?2 ORDER BY folded LIMIT ?4 OFFSET ?3",
    "SELECT name, folded, type, data FROM vals WHERE key=?1 AND folded>=?2 ORDER BY folded LIMIT ?4 OFFSET ?3",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent=?1",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM vals WHERE key=?1",
    "PRAGMA data_version",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

const char kSchema[] =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    " folded BLOB NOT NULL, UNIQUE(parent, folded));"
    "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded BLOB NOT NULL, type INTEGER NOT NULL,"
    " data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, '', x'');"
    "PRAGMA user_version=1;";

uint32_t Exec(sqlite3* db, const char* sql) { return FromSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr)); }

int QueryInt(sqlite3* db, const char* sql, int64_t* out) {
    Statement s;
    int rc = sqlite3_prepare_v2(db, sql, -1, s.Put(), nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(s.Get());
        if (rc == SQLITE_ROW) {
            *out = sqlite3_column_int64(s.Get(), 0);
            rc = SQLITE_OK;
        }
    }
    return rc;
}

} // namespace

namespace sql {

// Tables before version: another process may make the schema (tables and
// version in one transaction) between the two reads, and only this order
// can never see its tables without its version, which would look like
// another program's database.
int ReadHeader(sqlite3* db, int64_t* version, int64_t* tables) {
    int rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", tables);
    if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", version);
    return rc;
}

int SchemaVersion(sqlite3* db, int64_t* version) { return QueryInt(db, "PRAGMA user_version", version); }

uint32_t Configure(sqlite3* db) {
    uint32_t e = Exec(db, "PRAGMA synchronous=NORMAL");
    return e ? e : Exec(db, "PRAGMA mmap_size=268435456");
}

uint32_t MakeSchema(sqlite3* db) {
    if (uint32_t e = Exec(db, "PRAGMA journal_mode=WAL")) return e;
    if (uint32_t e = Exec(db, "BEGIN IMMEDIATE")) return e;
    int64_t version = 0;
    uint32_t e = FromSqlite(QueryInt(db, "PRAGMA user_version", &version));
    if (!e && version == 0) e = Exec(db, kSchema);
    if (!e) e = Exec(db, "COMMIT");
    if (e) Exec(db, "ROLLBACK");
    return e;
}

bool InWalMode(sqlite3* db) {
    Statement s;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, s.Put(), nullptr) == SQLITE_OK &&
        sqlite3_step(s.Get()) == SQLITE_ROW) {
        const unsigned char* mode = sqlite3_column_text(s.Get(), 0);
        wal = mode && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    return wal;
}

} // namespace sql

sqlite3_stmt* Hive::Prepare(Stmt which, int* rc) {
    Statement& s = m_stmts[which];
    *rc = SQLITE_OK;
    if (!s) *rc = sqlite3_prepare_v3(m_db.Get(), kSql[which], -1, SQLITE_PREPARE_PERSISTENT, s.Put(), nullptr);
    return s.Get();
}

void Hive::DropStatements(bool finalize) {
    for (Statement& s : m_stmts) {
        if (finalize) s.Reset();
        else s.Release();
    }
}

Query::~Query() {
    if (m_s) {
        sqlite3_reset(m_s);
        sqlite3_clear_bindings(m_s);
    }
}

Query& Query::Int(int i, int64_t v) {
    if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_int64(m_s, i, v);
    return *this;
}

Query& Query::Blob(int i, const void* p, size_t n) {
    if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_blob64(m_s, i, n ? p : "", n, SQLITE_STATIC);
    return *this;
}

Query& Query::Text(int i, const std::string& t) {
    if (m_rc == SQLITE_OK) m_rc = sqlite3_bind_text64(m_s, i, t.data(), t.size(), SQLITE_STATIC, SQLITE_UTF8);
    return *this;
}

bool Query::Row() {
    if (m_rc != SQLITE_OK) return false;
    int rc = sqlite3_step(m_s);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) m_rc = rc;
    return false;
}

uint32_t Query::Run() {
    while (Row()) {}
    return Error();
}

const uint8_t* Query::ColBytes(int c, size_t* n) const {
    const void* p = sqlite3_column_blob(m_s, c);
    *n = size_t(sqlite3_column_bytes(m_s, c));
    return static_cast<const uint8_t*>(p);
}

Txn::~Txn() {
    // A change that joined a batch and did not get to its commit failed:
    // the batch may hold a part of it.
    if (m_joined && m_write) m_hive.FailBatch();
    if (m_open) Run(kRollback);
}

uint32_t Txn::Begin(bool write) {
    // A change made here would leave the cache and the enumeration cursors
    // behind; they start over.
    if (write) m_hive.Changed();
    if (m_hive.InBatch()) {
        // After a failed change SQLite may have ended the transaction
        // itself: a further change would then commit on its own.
        if (write && m_hive.BatchFailed()) return kErrorRegistryIoFailed;
        m_joined = true;
        m_write = write;
        return kErrorSuccess;
    }
    if (write) m_hive.Cache().Drop();
    uint32_t e = Run(write ? kBeginWrite : kBeginRead);
    m_open = e == kErrorSuccess;
    return e;
}

uint32_t Txn::Commit() {
    if (m_joined) {
        m_joined = false;
        return kErrorSuccess;
    }
    uint32_t e = Run(kCommit);
    if (!e) m_open = false;
    return e;
}

uint32_t Txn::Run(Stmt s) { return Query(m_hive, s).Run(); }

// Write batches: the hive's connection holds one write transaction open
// (BEGIN IMMEDIATE, so no other writer gets in between), and the store's
// own transactions join it instead of beginning their own (Txn).
uint32_t Hive::BeginBatch() {
    if (m_batch) return kErrorBusy;
    Refresh();
    if (uint32_t e = PrepareWrite()) return e;
    m_cache.Drop();
    Changed();
    if (uint32_t e = Query(*this, kBeginWrite).Run()) return e;
    m_batch = true;
    m_batchFailed = false;
    return kErrorSuccess;
}

// Ends the open batch, if there is one: what it changed is no longer
// known to the cache either way.
bool Hive::EndBatch() {
    if (!m_batch) return false;
    m_batch = false;
    m_cache.Drop();
    Changed();
    return true;
}

uint32_t Hive::CommitBatch() {
    if (!EndBatch()) return kErrorInvalidParameter;
    uint32_t e = m_batchFailed ? kErrorRegistryIoFailed : Query(*this, kCommit).Run();
    if (e) Query(*this, kRollback).Run();
    return e;
}

bool Hive::RollbackBatch() {
    if (!EndBatch()) return false;
    Query(*this, kRollback).Run();
    return true;
}

} // namespace tavo::plat::store
