#include "platform/registry/Hive.h"

#include "platform/registry/HiveError.h"
#include "platform/registry/HiveLocation.h"
#include "platform/session/TrustedPath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// SQLite waits this long for another process's write to finish.
constexpr int kBusyTimeoutMs = 5000;

class CUniqueFd {
public:
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Removes a half-made file unless it was handed over.
class CTempFile {
public:
    explicit CTempFile(std::string path) : m_path(std::move(path)) {}
    ~CTempFile() {
        if (!m_path.empty()) {
            unlink(m_path.c_str());
            unlink((m_path + "-journal").c_str());
        }
    }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

LONG ErrnoToRegistry(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    default:
        return ERROR_CANTWRITE;
    }
}

// Moves `from` to `to` unless `to` exists; EEXIST tells that another process
// created the hive first.
int PlaceWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    unlink(from.c_str());
    return 0;
}

void SyncDir(const std::string& dir) {
    const CUniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        fsync(fd.get());
    }
}

bool IsStorageFailure(LONG error) {
    return error == ERROR_BADDB || error == ERROR_BUSY || error == ERROR_CANTWRITE ||
           error == ERROR_OUTOFMEMORY || error == ERROR_ACCESS_DENIED || error == ERROR_CANTOPEN;
}

} // namespace

CHive::CHive(Kind kind, std::string path) : m_kind(kind), m_path(std::move(path)) {}

bool CHive::CanWrite() const {
    struct stat st {};
    if (stat(m_path.c_str(), &st) == 0) {
        return CanWriteHiveFile(m_path);
    }
    return CanCreateHiveFile(m_path);
}

LONG CHive::MarkBad(const std::string& detail) {
    m_bad = true;
    m_db.reset();
    ReportHiveProblem(m_path, detail);
    return ERROR_BADDB;
}

LONG CHive::AfterWork(LONG result) {
    if (result == ERROR_BADDB && !m_bad) {
        return MarkBad(m_db ? sqlite3_errmsg(m_db->Handle()) : "unreadable");
    }
    return result;
}

LONG CHive::CreateFile() {
    const bool user = m_kind == Kind::User;
    if (!MakeParentDirs(m_path, user ? 0700 : 0755)) {
        return ErrnoToRegistry(errno);
    }
    if (!CanCreateHiveFile(m_path)) {
        return ERROR_ACCESS_DENIED;
    }
    // Built aside and moved into place in one step, so that the hive is either
    // absent or complete, whatever happens to this process meanwhile.
    std::string pattern = m_path + ".new-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const CUniqueFd fd(mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return ErrnoToRegistry(errno);
    }
    const CTempFile temp(name.data());
    if (fchmod(fd.get(), user ? 0600 : 0644) != 0) {
        return ErrnoToRegistry(errno);
    }
    {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(temp.Path().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        const SqliteDb db(raw);
        if (rc != SQLITE_OK) {
            return CHiveDb::MapError(rc);
        }
        sqlite3_exec(raw, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        if (const LONG error = CHiveDb::CreateSchema(raw)) {
            return error;
        }
    }
    if (fsync(fd.get()) != 0) {
        return ERROR_CANTWRITE;
    }
    const int placed = PlaceWithoutReplacing(temp.Path(), m_path);
    if (placed != 0 && placed != EEXIST) {
        return ErrnoToRegistry(placed);
    }
    SyncDir(ParentDir(m_path));
    return ERROR_SUCCESS;
}

LONG CHive::OpenExisting(bool writable) {
    // Checked on a read-only connection first, so that a file which turns out
    // not to be ours is never opened for writing.
    for (const bool readWrite : {false, true}) {
        if (readWrite && !writable) {
            break;
        }
        sqlite3* raw = nullptr;
        const int flags = readWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
        const int rc = sqlite3_open_v2(m_path.c_str(), &raw, flags, nullptr);
        SqliteDb db(raw);
        if (rc != SQLITE_OK) {
            if (access(m_path.c_str(), R_OK) != 0) {
                return ERROR_ACCESS_DENIED;
            }
            const LONG error = CHiveDb::MapError(rc);
            return error == ERROR_BADDB ? MarkBad(sqlite3_errstr(rc)) : error;
        }
        sqlite3_extended_result_codes(raw, 1);
        sqlite3_busy_timeout(raw, kBusyTimeoutMs);
        sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        auto hive = std::make_unique<CHiveDb>(std::move(db));
        std::string detail;
        const LONG valid = hive->Validate(detail);
        if (valid == ERROR_BADDB) {
            return MarkBad(detail);
        }
        if (valid == ERROR_ACCESS_DENIED && !readWrite && writable) {
            continue; // a crashed writer's journal waits to be rolled back
        }
        if (valid != ERROR_SUCCESS) {
            return valid;
        }
        if (readWrite || !writable) {
            hive->Exec("PRAGMA foreign_keys=ON");
            if (readWrite) {
                hive->Exec("PRAGMA synchronous=FULL");
            }
            m_db = std::move(hive);
            m_readOnly = !readWrite;
            m_dataVersion = -1;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_ACCESS_DENIED;
}

LONG CHive::EnsureOpen(bool forWrite, bool& absent) {
    absent = false;
    if (m_bad) {
        return ERROR_BADDB;
    }
    if (!m_db) {
        // Settings that another user can change or replace (a folder of theirs, one open to
        // everyone, a path in a shared place) are not the user's settings.
        if (std::string why = session::UntrustedPathReason(m_path, false); !why.empty()) {
            m_bad = true;
            ReportHiveFolderProblem(m_path, m_path.empty() ? "there is no home folder" : why);
            return ERROR_BADDB;
        }
    }
    struct stat st {};
    const bool exists = stat(m_path.c_str(), &st) == 0;
    const int statError = exists ? 0 : errno;
    if (m_db && m_batchDepth == 0 && (!exists || st.st_dev != m_dev || st.st_ino != m_ino)) {
        // The file was removed or replaced behind our back: follow the path,
        // as a process starting now would.
        m_db.reset();
        ++m_stamp;
    }
    if (m_db) {
        if (!forWrite || !m_readOnly) {
            return ERROR_SUCCESS;
        }
        if (m_batchDepth > 0 || !CanWriteHiveFile(m_path)) {
            return ERROR_ACCESS_DENIED;
        }
        m_db.reset(); // reopened for writing below
    }
    if (!exists) {
        if (statError != ENOENT && statError != ENOTDIR) {
            return ErrnoToRegistry(statError);
        }
        if (!forWrite) {
            absent = true;
            return ERROR_SUCCESS;
        }
        if (const LONG error = CreateFile()) {
            return error;
        }
        if (stat(m_path.c_str(), &st) != 0) {
            return ErrnoToRegistry(errno);
        }
    }
    if (!S_ISREG(st.st_mode)) {
        return MarkBad("not a regular file");
    }
    const bool writable = CanWriteHiveFile(m_path);
    if (forWrite && !writable) {
        return ERROR_ACCESS_DENIED;
    }
    const LONG opened = OpenExisting(writable);
    if (opened == ERROR_SUCCESS) {
        m_dev = st.st_dev;
        m_ino = st.st_ino;
    }
    return opened;
}

LONG CHive::Read(const Work& work, bool& absent) {
    const std::lock_guard lock(m_mutex);
    if (const LONG error = EnsureOpen(false, absent)) {
        return error;
    }
    if (absent) {
        return ERROR_SUCCESS;
    }
    if (m_batchDepth > 0) {
        return AfterWork(work(*m_db));
    }
    // One snapshot, so that a key checked first is still there for the next query.
    if (const LONG error = m_db->Exec("BEGIN")) {
        return AfterWork(error);
    }
    const LONG result = work(*m_db);
    m_db->Exec("COMMIT");
    if (m_db && !sqlite3_get_autocommit(m_db->Handle())) {
        m_db->Exec("ROLLBACK");
    }
    return AfterWork(result);
}

LONG CHive::Write(const Work& work) {
    const std::lock_guard lock(m_mutex);
    bool absent = false;
    if (const LONG error = EnsureOpen(true, absent)) {
        return error;
    }
    if (m_batchDepth > 0) {
        // A failed call inside a batch takes back only its own changes.
        if (const LONG error = m_db->Exec("SAVEPOINT reg_call")) {
            m_batchFailed = true;
            return AfterWork(error);
        }
        const LONG result = work(*m_db);
        if (result != ERROR_SUCCESS) {
            if (m_db->Exec("ROLLBACK TO reg_call") != ERROR_SUCCESS || IsStorageFailure(result)) {
                m_batchFailed = true;
            }
        }
        m_db->Exec("RELEASE reg_call");
        return AfterWork(result);
    }
    if (const LONG error = m_db->Exec("BEGIN IMMEDIATE")) {
        return AfterWork(error);
    }
    LONG result = work(*m_db);
    if (result == ERROR_SUCCESS) {
        result = m_db->Exec("COMMIT");
    }
    if (!sqlite3_get_autocommit(m_db->Handle())) {
        m_db->Exec("ROLLBACK");
    } else if (result == ERROR_SUCCESS) {
        ++m_stamp;
    }
    return AfterWork(result);
}

LONG CHive::BeginBatch() {
    m_mutex.lock();
    bool absent = false;
    LONG error = EnsureOpen(true, absent);
    if (error == ERROR_SUCCESS && m_batchDepth == 0) {
        error = AfterWork(m_db->Exec("BEGIN IMMEDIATE"));
        m_batchFailed = false;
    }
    if (error != ERROR_SUCCESS) {
        m_mutex.unlock();
        return error;
    }
    ++m_batchDepth;
    return ERROR_SUCCESS;
}

LONG CHive::EndBatch(bool commit) {
    LONG result = ERROR_SUCCESS;
    if (--m_batchDepth == 0 && m_db) {
        sqlite3* db = m_db->Handle();
        if (sqlite3_get_autocommit(db)) {
            result = ERROR_CANTWRITE; // SQLite already gave the transaction up
        } else if (commit && !m_batchFailed) {
            result = m_db->Exec("COMMIT");
        } else {
            result = commit ? ERROR_CANTWRITE : ERROR_SUCCESS;
        }
        if (!sqlite3_get_autocommit(db)) {
            m_db->Exec("ROLLBACK");
        } else if (commit && result == ERROR_SUCCESS) {
            ++m_stamp;
        }
        result = AfterWork(result);
    } else if (m_batchDepth == 0) {
        result = ERROR_BADDB;
    }
    m_mutex.unlock();
    return result;
}

LONG CHive::ChangeStamp(uint64_t& stamp) {
    const std::lock_guard lock(m_mutex);
    bool absent = false;
    if (const LONG error = EnsureOpen(false, absent)) {
        return error;
    }
    if (absent) {
        if (m_present) {
            m_present = false;
            ++m_stamp;
        }
        stamp = m_stamp;
        return ERROR_SUCCESS;
    }
    if (!m_present) {
        m_present = true;
        ++m_stamp;
    }
    int64_t version = 0;
    if (const LONG error = AfterWork(m_db->DataVersion(version))) {
        return error;
    }
    if (version != m_dataVersion) {
        if (m_dataVersion != -1) {
            ++m_stamp;
        }
        m_dataVersion = version;
    }
    stamp = m_stamp;
    return ERROR_SUCCESS;
}

LONG CHive::Check() {
    const std::lock_guard lock(m_mutex);
    bool absent = false;
    return EnsureOpen(false, absent);
}
