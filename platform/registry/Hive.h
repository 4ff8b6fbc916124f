#pragma once

#include "platform/registry/HiveDb.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// One hive file and this process's connection to it. All work on the file
// runs under the hive's lock, one statement sequence at a time; SQLite's own
// locking and journal keep other processes and crashes out of the picture.
class CHive {
public:
    enum class Kind { Machine, User };
    using Work = std::function<LONG(CHiveDb&)>;

    CHive(Kind kind, std::string path);
    CHive(const CHive&) = delete;
    CHive& operator=(const CHive&) = delete;

    const std::string& Path() const { return m_path; }

    // Runs `work` on one consistent snapshot. When the file does not exist,
    // `absent` is set, `work` does not run and the result is ERROR_SUCCESS.
    LONG Read(const Work& work, bool& absent);
    // Runs `work` as one transaction: all of it is written or none. The file
    // (and its folder) is created first when it does not exist yet.
    LONG Write(const Work& work);

    // A batch keeps one transaction open on this thread across many writes;
    // other threads wait for the hive until EndBatch.
    LONG BeginBatch();
    LONG EndBatch(bool commit);

    LONG ChangeStamp(uint64_t& stamp);
    // Opens the file if it exists, to see whether it is usable.
    LONG Check();
    // Whether the file system lets this process write the file (or create it).
    bool CanWrite() const;

private:
    LONG EnsureOpen(bool forWrite, bool& absent);
    LONG OpenExisting(bool writable);
    LONG CreateFile();
    LONG MarkBad(const std::string& detail);
    LONG AfterWork(LONG result);

    const Kind m_kind;
    const std::string m_path;
    std::recursive_mutex m_mutex;
    std::unique_ptr<CHiveDb> m_db;
    bool m_readOnly = false;
    bool m_bad = false;
    int m_batchDepth = 0;
    bool m_batchFailed = false;
    bool m_present = false;
    int64_t m_dataVersion = -1;
    // The file the connection was opened on, to notice a replaced file.
    uint64_t m_dev = 0;
    uint64_t m_ino = 0;
    uint64_t m_stamp = 0;
};
