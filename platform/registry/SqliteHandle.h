#pragma once

#include <memory>
#include <sqlite3.h>

// Owners for the SQLite objects of a hive.
struct SqliteDbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteDbCloser>;

struct SqliteStmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteStmtFinalizer>;

// Resets a cached statement when a query is done with it, on every way out.
class SqliteStmtUse {
public:
    explicit SqliteStmtUse(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~SqliteStmtUse() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    SqliteStmtUse(const SqliteStmtUse&) = delete;
    SqliteStmtUse& operator=(const SqliteStmtUse&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt;
};
