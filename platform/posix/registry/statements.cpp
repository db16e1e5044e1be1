// The statements of the store, prepared once per connection, and the
// queries and transactions that run them.
#include "platform/posix/registry/store.h"

namespace tavo::plat::store {
namespace {

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
    "SELECT name FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent=?1",
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM vals WHERE key=?1",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

} // namespace

sqlite3_stmt* Hive::Prepare(Stmt which, int* rc) {
    Statement& s = m_stmts[which];
    *rc = SQLITE_OK;
    if (!s) *rc = sqlite3_prepare_v3(db.Get(), kSql[which], -1, SQLITE_PREPARE_PERSISTENT, s.Put(), nullptr);
    return s.Get();
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

const uint8_t* Query::ColBytes(int c, size_t* n) const {
    const void* p = sqlite3_column_blob(m_s, c);
    *n = size_t(sqlite3_column_bytes(m_s, c));
    return static_cast<const uint8_t*>(p);
}

Txn::~Txn() {
    // A change that joined a batch and did not get to its commit failed:
    // the batch may hold a part of it.
    if (m_joined && m_write) m_hive.batchFailed = true;
    if (m_open) Run(kRollback);
}

uint32_t Txn::Begin(bool write) {
    if (m_hive.batch) {
        // After a failed change SQLite may have ended the transaction
        // itself: a further change would then commit on its own.
        if (write && m_hive.batchFailed) return kErrorRegistryIoFailed;
        m_joined = true;
        m_write = write;
        return kErrorSuccess;
    }
    // A change made here would leave the cache behind; start it over.
    if (write) m_hive.cache.Drop();
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

uint32_t Txn::Run(Stmt s) {
    Query q(m_hive, s);
    q.Row();
    return q.Error();
}

} // namespace tavo::plat::store
