#include "platform/registry/HiveDb.h"

#include "platform/registry/KeyPath.h"

#include <cstring>

namespace {

constexpr const char* kSchema =
    "CREATE TABLE hive_format(format TEXT NOT NULL, version INTEGER NOT NULL);"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));"
    "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " UNIQUE(key, folded));"
    "INSERT INTO keys(id, parent, name, folded) VALUES(1, NULL, '', '');";

// Queries, one constant each (the statement cache is keyed by address).
constexpr const char* kKeyExists = "SELECT 1 FROM keys WHERE id = ?1";
constexpr const char* kFindChild = "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2";
constexpr const char* kAddChild = "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)";
constexpr const char* kHasChildren = "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1";
constexpr const char* kDeleteKey = "DELETE FROM keys WHERE id = ?1";
constexpr const char* kDeleteChildren = "DELETE FROM keys WHERE parent = ?1";
constexpr const char* kDeleteValues = "DELETE FROM vals WHERE key = ?1";
constexpr const char* kChildAt =
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2";
constexpr const char* kChildStats =
    "SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?1";
constexpr const char* kValueStats = "SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0),"
                                    " ifnull(max(length(data)), 0) FROM vals WHERE key = ?1";
constexpr const char* kGetValue = "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2";
constexpr const char* kSetValue =
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data";
constexpr const char* kDeleteValue = "DELETE FROM vals WHERE key = ?1 AND folded = ?2";
constexpr const char* kValueAt =
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2";
constexpr const char* kDataVersion = "PRAGMA data_version";

int BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = sqlite3_column_text(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text), size);
}

void ColumnBlob(sqlite3_stmt* stmt, int column, std::vector<BYTE>& out) {
    const auto* blob = static_cast<const BYTE*>(sqlite3_column_blob(stmt, column));
    const int size = sqlite3_column_bytes(stmt, column);
    if (blob == nullptr || size <= 0) {
        out.clear();
    } else {
        out.assign(blob, blob + size);
    }
}

DWORD ColumnDword(sqlite3_stmt* stmt, int column) {
    const sqlite3_int64 value = sqlite3_column_int64(stmt, column);
    return value < 0 ? 0 : static_cast<DWORD>(value);
}

} // namespace

LONG CHiveDb::MapError(int rc) {
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_IOERR:
    case SQLITE_FULL:
        return ERROR_CANTWRITE;
    case SQLITE_CONSTRAINT:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
    case SQLITE_MISUSE:
        return ERROR_INVALID_PARAMETER;
    default: // CORRUPT, NOTADB, FORMAT, SCHEMA, ERROR (a table or column gone)
        return ERROR_BADDB;
    }
}

LONG CHiveDb::CreateSchema(sqlite3* db) {
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return MapError(sqlite3_errcode(db));
    }
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        const LONG error = MapError(sqlite3_errcode(db));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return error;
    }
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, "INSERT INTO hive_format(format, version) VALUES(?1, ?2)", -1,
                                &raw, nullptr);
    const SqliteStmt insert(raw);
    if (rc == SQLITE_OK) {
        BindText(raw, 1, kFormatName);
        sqlite3_bind_int(raw, 2, kFormatVersion);
        rc = sqlite3_step(raw);
    }
    if (rc != SQLITE_DONE) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return MapError(rc);
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const LONG error = MapError(sqlite3_errcode(db));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return error;
    }
    return ERROR_SUCCESS;
}

LONG CHiveDb::Validate(std::string& detail) {
    sqlite3* db = m_db.get();
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT format, version FROM hive_format", -1, &raw, nullptr);
    SqliteStmt marker(raw);
    if (rc != SQLITE_OK) {
        detail = sqlite3_errmsg(db);
        return MapError(rc);
    }
    rc = sqlite3_step(raw);
    if (rc != SQLITE_ROW) {
        detail = rc == SQLITE_DONE ? "no format marker" : sqlite3_errmsg(db);
        return rc == SQLITE_DONE ? ERROR_BADDB : MapError(rc);
    }
    if (ColumnText(raw, 0) != kFormatName) {
        detail = "unknown format marker";
        return ERROR_BADDB;
    }
    if (sqlite3_column_int64(raw, 1) != kFormatVersion) {
        detail = "format version " + std::to_string(sqlite3_column_int64(raw, 1)) +
                 " is not understood by this version";
        return ERROR_BADDB;
    }
    marker.reset();

    // Only our tables; triggers or views would run foreign code on our writes.
    rc = sqlite3_prepare_v2(db,
                            "SELECT count(*) FROM sqlite_schema WHERE type IN ('trigger','view')"
                            " OR (type = 'table' AND name NOT IN"
                            " ('hive_format','keys','vals','sqlite_sequence'))",
                            -1, &raw, nullptr);
    SqliteStmt extra(raw);
    if (rc != SQLITE_OK || (rc = sqlite3_step(raw)) != SQLITE_ROW) {
        detail = sqlite3_errmsg(db);
        return MapError(rc);
    }
    if (sqlite3_column_int64(raw, 0) != 0) {
        detail = "unexpected tables or triggers";
        return ERROR_BADDB;
    }
    extra.reset();

    rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &raw, nullptr);
    SqliteStmt check(raw);
    if (rc != SQLITE_OK || (rc = sqlite3_step(raw)) != SQLITE_ROW) {
        detail = sqlite3_errmsg(db);
        return MapError(rc);
    }
    const std::string verdict = ColumnText(raw, 0);
    if (verdict != "ok") {
        detail = "damaged: " + verdict;
        return ERROR_BADDB;
    }
    check.reset();

    // Every query must compile against the tables as they are.
    for (const char* sql : {kKeyExists, kFindChild, kAddChild, kChildAt, kChildStats, kValueStats,
                            kGetValue, kSetValue, kValueAt}) {
        sqlite3_stmt* stmt = nullptr;
        rc = Prepare(sql, stmt);
        if (rc != ERROR_SUCCESS) {
            detail = std::string("tables do not match: ") + sqlite3_errmsg(db);
            return ERROR_BADDB;
        }
    }
    const LONG root = KeyExists(kRootId);
    if (root != ERROR_SUCCESS) {
        detail = "no root key";
        return root == ERROR_FILE_NOT_FOUND ? ERROR_BADDB : root;
    }
    return ERROR_SUCCESS;
}

LONG CHiveDb::Prepare(const char* sql, sqlite3_stmt*& stmt) {
    auto found = m_statements.find(sql);
    if (found != m_statements.end()) {
        stmt = found->second.get();
        return ERROR_SUCCESS;
    }
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v3(m_db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(raw);
        return MapError(rc);
    }
    stmt = raw;
    m_statements.emplace(sql, SqliteStmt(raw));
    return ERROR_SUCCESS;
}

LONG CHiveDb::Exec(const char* sql) {
    return MapError(sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr));
}

LONG CHiveDb::KeyExists(int64_t id) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kKeyExists, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, id);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : MapError(rc);
}

LONG CHiveDb::FindChild(int64_t parent, std::string_view folded, int64_t& id) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kFindChild, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, parent);
    BindText(stmt, 2, folded);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        id = sqlite3_column_int64(stmt, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : MapError(rc);
}

LONG CHiveDb::AddChild(int64_t parent, std::string_view name, int64_t& id) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kAddChild, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, parent);
    BindText(stmt, 2, name);
    BindText(stmt, 3, FoldRegName(name));
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
        return MapError(rc);
    }
    id = sqlite3_last_insert_rowid(m_db.get());
    return ERROR_SUCCESS;
}

LONG CHiveDb::HasChildren(int64_t id, bool& has) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kHasChildren, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, id);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        return MapError(rc);
    }
    has = rc == SQLITE_ROW;
    return ERROR_SUCCESS;
}

LONG CHiveDb::DeleteKey(int64_t id) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kDeleteKey, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, id);
    return MapError(sqlite3_step(stmt));
}

LONG CHiveDb::DeleteContents(int64_t id) {
    for (const char* sql : {kDeleteChildren, kDeleteValues}) {
        sqlite3_stmt* stmt = nullptr;
        if (const LONG error = Prepare(sql, stmt)) {
            return error;
        }
        const SqliteStmtUse use(stmt);
        sqlite3_bind_int64(stmt, 1, id);
        if (const LONG error = MapError(sqlite3_step(stmt))) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

LONG CHiveDb::ChildAt(int64_t parent, DWORD index, std::string& name) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kChildAt, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, parent);
    sqlite3_bind_int64(stmt, 2, static_cast<sqlite3_int64>(index));
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        name = ColumnText(stmt, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : MapError(rc);
}

LONG CHiveDb::KeyInfo(int64_t id, DWORD& subKeys, DWORD& maxSubKeyLen, DWORD& values,
                      DWORD& maxValueNameLen, DWORD& maxValueLen) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kChildStats, stmt)) {
        return error;
    }
    {
        const SqliteStmtUse use(stmt);
        sqlite3_bind_int64(stmt, 1, id);
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW) {
            return MapError(rc);
        }
        subKeys = ColumnDword(stmt, 0);
        maxSubKeyLen = ColumnDword(stmt, 1);
    }
    if (const LONG error = Prepare(kValueStats, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, id);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        return MapError(rc);
    }
    values = ColumnDword(stmt, 0);
    maxValueNameLen = ColumnDword(stmt, 1);
    maxValueLen = ColumnDword(stmt, 2);
    return ERROR_SUCCESS;
}

LONG CHiveDb::GetValue(int64_t key, std::string_view folded, DWORD& type, std::vector<BYTE>& data) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kGetValue, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    BindText(stmt, 2, folded);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : MapError(rc);
    }
    type = ColumnDword(stmt, 0);
    ColumnBlob(stmt, 1, data);
    return ERROR_SUCCESS;
}

LONG CHiveDb::SetValue(int64_t key, std::string_view name, DWORD type, const BYTE* data,
                       DWORD size) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kSetValue, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    BindText(stmt, 2, name);
    BindText(stmt, 3, FoldRegName(name));
    sqlite3_bind_int64(stmt, 4, static_cast<sqlite3_int64>(type));
    // A null pointer would bind NULL; an empty value is an empty blob.
    if (size == 0 || data == nullptr) {
        sqlite3_bind_zeroblob(stmt, 5, 0);
    } else {
        sqlite3_bind_blob64(stmt, 5, data, size, SQLITE_STATIC);
    }
    return MapError(sqlite3_step(stmt));
}

LONG CHiveDb::DeleteValue(int64_t key, std::string_view folded) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kDeleteValue, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    BindText(stmt, 2, folded);
    if (const LONG error = MapError(sqlite3_step(stmt))) {
        return error;
    }
    return sqlite3_changes(m_db.get()) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LONG CHiveDb::ValueAt(int64_t key, DWORD index, std::string& name, DWORD& type,
                      std::vector<BYTE>& data) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kValueAt, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, static_cast<sqlite3_int64>(index));
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : MapError(rc);
    }
    name = ColumnText(stmt, 0);
    type = ColumnDword(stmt, 1);
    ColumnBlob(stmt, 2, data);
    return ERROR_SUCCESS;
}

LONG CHiveDb::DataVersion(int64_t& version) {
    sqlite3_stmt* stmt = nullptr;
    if (const LONG error = Prepare(kDataVersion, stmt)) {
        return error;
    }
    const SqliteStmtUse use(stmt);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        return MapError(rc);
    }
    version = sqlite3_column_int64(stmt, 0);
    return ERROR_SUCCESS;
}
