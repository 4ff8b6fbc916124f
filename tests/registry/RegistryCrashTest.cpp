// A writer killed with SIGKILL at different moments of a long series of
// writes leaves a hive that opens and reads consistently: every value is
// either from before or from after the change that was under way.
#include "platform/registry/RegKey.h"
#include "tests/registry/TempHives.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VELK_CRASH_WRITER
#error "VELK_CRASH_WRITER must name the helper program"
#endif

namespace {

// Starts the writer, lets it report `generations` finished generations, waits
// `extraMicros` more and kills it. Returns the last generation it reported.
uint32_t RunAndKill(uint32_t generations, unsigned extraMicros) {
    int fds[2];
    if (pipe(fds) != 0) {
        return 0;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl(VELK_CRASH_WRITER, VELK_CRASH_WRITER, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    FILE* lines = fdopen(fds[0], "r");
    uint32_t last = 0;
    unsigned value = 0;
    while (last < generations && lines != nullptr && std::fscanf(lines, "%u", &value) == 1) {
        last = value;
    }
    usleep(extraMicros);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    if (lines != nullptr) {
        std::fclose(lines);
    }
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;
    return last;
}

std::string IntegrityOf(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return verdict;
}

bool ReadNumber(HKEY key, const char* name, uint32_t& value) {
    DWORD size = sizeof value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           size == sizeof value;
}

TEST(RegistryCrash, KilledWriterLeavesOldOrNewValues) {
    TempHives hives;
    struct Moment {
        uint32_t generations;
        unsigned extraMicros;
    };
    // From "before the first change landed" to deep into the series, with
    // small offsets so that the kill falls at different points of a write.
    const Moment moments[] = {{0, 0}, {1, 150}, {4, 0}, {9, 700}, {20, 1300}, {45, 90}};
    uint32_t previousTail = 0;
    for (const Moment& moment : moments) {
        SCOPED_TRACE("after generation " + std::to_string(moment.generations) + " + " +
                     std::to_string(moment.extraMicros) + "us");
        const uint32_t reported = RunAndKill(moment.generations, moment.extraMicros);
        EXPECT_GE(reported, moment.generations);

        // A fresh reader, as after a crash of the whole session.
        RegResetForTests();
        ASSERT_EQ(RegCheckHive(HKEY_CURRENT_USER), ERROR_SUCCESS) << RegGetHiveErrorText();
        RegKey batch;
        const LONG opened = batch.Open(HKEY_CURRENT_USER, "Software\\Crash\\Batch", KEY_READ);
        if (opened == ERROR_FILE_NOT_FOUND) {
            EXPECT_EQ(reported, 0u); // killed before the first change
            continue;
        }
        ASSERT_EQ(opened, ERROR_SUCCESS);
        uint32_t generation = 0;
        ASSERT_TRUE(ReadNumber(batch.get(), "v0", generation));
        for (int i = 1; i < 16; ++i) {
            uint32_t other = 0;
            ASSERT_TRUE(ReadNumber(batch.get(), ("v" + std::to_string(i)).c_str(), other));
            EXPECT_EQ(other, generation) << "v" << i;
        }
        std::vector<BYTE> blob(30000);
        DWORD size = static_cast<DWORD>(blob.size());
        ASSERT_EQ(RegQueryValueExA(batch.get(), "blob", nullptr, nullptr, blob.data(), &size),
                  ERROR_SUCCESS);
        ASSERT_EQ(size, 20000u);
        blob.resize(size);
        EXPECT_EQ(std::count(blob.begin(), blob.end(), static_cast<BYTE>(generation)), 20000);
        // Every run starts over at 1, so what survives is at least what this
        // run reported, one ahead at most of the reports it got through.
        EXPECT_GE(generation, reported);
        uint32_t tail = 0;
        RegKey single;
        ASSERT_EQ(single.Open(HKEY_CURRENT_USER, "Software\\Crash", KEY_READ), ERROR_SUCCESS);
        if (ReadNumber(single.get(), "tail", tail)) {
            // The lone write after each change is that change's or the one before.
            EXPECT_TRUE(tail == generation || tail + 1 == generation ||
                        (generation == 1 && tail == previousTail))
                << "tail " << tail << " generation " << generation;
            previousTail = tail;
        }
        batch.Close();
        single.Close();
        RegResetForTests();
        EXPECT_EQ(IntegrityOf(hives.UserPath()), "ok");
    }
}

} // namespace
