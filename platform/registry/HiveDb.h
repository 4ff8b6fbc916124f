#pragma once

#include "platform/registry/SqliteHandle.h"
#include "platform/registry/WinTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The table layout of a hive file:
//   hive_format(format, version)        one row: "velkora-hive", 1
//   keys(id, parent, name, folded)      a tree; the root key has id 1
//   vals(key, name, folded, type, data) in the order they were first set
// Every call maps SQLite failures to registry codes; damage is ERROR_BADDB.
class CHiveDb {
public:
    static constexpr int64_t kRootId = 1;
    static constexpr const char* kFormatName = "velkora-hive";
    static constexpr int kFormatVersion = 1;

    explicit CHiveDb(SqliteDb db) : m_db(std::move(db)) {}

    sqlite3* Handle() const { return m_db.get(); }

    // Lays out an empty hive in a fresh database.
    static LONG CreateSchema(sqlite3* db);
    // Checks the format marker, the tables and the pages; `detail` says what
    // is wrong when the result is not ERROR_SUCCESS.
    LONG Validate(std::string& detail);

    LONG Exec(const char* sql);

    LONG KeyExists(int64_t id);
    LONG FindChild(int64_t parent, std::string_view folded, int64_t& id);
    LONG AddChild(int64_t parent, std::string_view name, int64_t& id);
    LONG HasChildren(int64_t id, bool& has);
    LONG DeleteKey(int64_t id);
    LONG DeleteContents(int64_t id);
    LONG ChildAt(int64_t parent, DWORD index, std::string& name);
    LONG KeyInfo(int64_t id, DWORD& subKeys, DWORD& maxSubKeyLen, DWORD& values,
                 DWORD& maxValueNameLen, DWORD& maxValueLen);

    LONG GetValue(int64_t key, std::string_view folded, DWORD& type, std::vector<BYTE>& data);
    LONG SetValue(int64_t key, std::string_view name, DWORD type, const BYTE* data, DWORD size);
    LONG DeleteValue(int64_t key, std::string_view folded);
    LONG ValueAt(int64_t key, DWORD index, std::string& name, DWORD& type, std::vector<BYTE>& data);

    LONG DataVersion(int64_t& version);

    static LONG MapError(int rc);

private:
    LONG Prepare(const char* sql, sqlite3_stmt*& stmt);

    SqliteDb m_db;
    // Keyed by the address of the SQL literal: each query text is one constant.
    std::unordered_map<const char*, SqliteStmt> m_statements;
};
