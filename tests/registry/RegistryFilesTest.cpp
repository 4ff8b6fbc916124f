// The hive files themselves: where they appear, who may write them, damaged
// and foreign files, transactions and the change stamp.
#include "platform/registry/RegKey.h"
#include "platform/registry/RegTransaction.h"
#include "tests/registry/TempHives.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Runs SQL on a file directly, as another program would.
void RunSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A DWORD of the current user's hive as text, or "error N".
std::string Dword(const char* path, const char* name) {
    uint32_t value = 0;
    const LONG rc = GetDword(HKEY_CURRENT_USER, path, name, value);
    return rc == ERROR_SUCCESS ? std::to_string(value) : "error " + std::to_string(rc);
}

uint64_t Stamp() {
    uint64_t stamp = 0;
    EXPECT_EQ(RegQueryChangeStamp(HKEY_CURRENT_USER, &stamp), ERROR_SUCCESS);
    return stamp;
}

class RegistryFiles : public ::testing::Test {
protected:
    TempHives m_hives;
};

TEST_F(RegistryFiles, UserHiveAppearsOnFirstWriteMachineHiveMissingReadsEmpty) {
    EXPECT_EQ(RegHivePath(HKEY_CURRENT_USER), m_hives.UserPath());
    const std::filesystem::path userDir = std::filesystem::path(m_hives.UserPath()).parent_path();
    // Reading creates nothing.
    uint32_t value = 0;
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, "Software", "x", value), ERROR_FILE_NOT_FOUND);
    RegKey root;
    ASSERT_EQ(root.Open(HKEY_CURRENT_USER, nullptr, KEY_READ), ERROR_SUCCESS);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(root.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_FALSE(std::filesystem::exists(userDir));
    EXPECT_EQ(RegCheckHive(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "x", value), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(m_hives.MachinePath()));

    // The first write makes the folders and a private file, with nothing left beside it.
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Velkora", "x", 5), ERROR_SUCCESS);
    EXPECT_EQ(Mode(m_hives.UserPath()), 0600u);
    EXPECT_EQ(Mode(userDir), 0700u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(userDir), {}), 1);
    EXPECT_EQ(Dword("software\\velkora", "X"), "5");
    EXPECT_FALSE(std::filesystem::exists(m_hives.MachinePath()));
}

TEST_F(RegistryFiles, UserHiveDefaultPlaceFollowsXdgConfigHome) {
    unsetenv("VELKORA_USER_HIVE");
    const std::string saved = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", (m_hives.Dir() + "/cfg").c_str(), 1);
    RegResetForTests();
    EXPECT_EQ(RegHivePath(HKEY_CURRENT_USER), m_hives.Dir() + "/cfg/velkora/user.hive");
    // A relative value does not count; the home folder's .config is used.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", m_hives.Dir().c_str(), 1);
    RegResetForTests();
    EXPECT_EQ(RegHivePath(HKEY_CURRENT_USER), m_hives.Dir() + "/.config/velkora/user.hive");
    saved.empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(RegistryFiles, MachineHiveTheUserCannotWrite) {
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velkora", "n", 7), ERROR_SUCCESS);
    LockMachineHiveFor(m_hives);
    const std::string report = RunAsUser([] {
        std::string out;
        const auto note = [&out](const char* what, LONG rc) {
            out += std::string(out.empty() ? "" : " ") + what + "=" + std::to_string(rc);
        };
        const char* velkora = "SOFTWARE\\Velkora";
        RegKey key;
        note("read", key.Open(HKEY_LOCAL_MACHINE, velkora, KEY_READ));
        uint32_t value = 0;
        DWORD size = sizeof value;
        note("value", RegQueryValueExA(key.get(), "n", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&value), &size));
        out += ":" + std::to_string(value);
        RegKey write;
        note("all", write.Open(HKEY_LOCAL_MACHINE, velkora, KEY_ALL_ACCESS));
        note("set", write.Open(HKEY_LOCAL_MACHINE, velkora, KEY_SET_VALUE));
        note("create", write.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", KEY_READ));
        note("existing", write.Create(HKEY_LOCAL_MACHINE, velkora, KEY_READ));
        note("rootset", RegSetValueExA(HKEY_LOCAL_MACHINE, "x", 0, REG_SZ, nullptr, 0));
        note("tree", RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"));
        // The user's own hive stays writable.
        note("user", SetDword(HKEY_CURRENT_USER, "Software\\V", "n", 1));
        return out;
    });
    EXPECT_EQ(report, "read=0 value=0:7 all=5 set=5 create=5 existing=0 rootset=5 tree=5 user=0");
    RegResetForTests();
    uint32_t value = 0;
    EXPECT_EQ(GetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velkora", "n", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
}

TEST_F(RegistryFiles, HivesOnlyWhereNoOtherUserCanChangeThem) {
    // Folders made for the machine hive are readable for every user whatever the umask.
    const mode_t oldMask = umask(077);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velkora", "n", 1), ERROR_SUCCESS);
    umask(oldMask);
    EXPECT_EQ(Mode(m_hives.Dir() + "/machine"), 0755u);
    EXPECT_EQ(Mode(m_hives.MachinePath()), 0644u);

    // A folder open to everyone, or one of another user: refused like a damaged hive, and
    // nothing is written there.
    std::vector<std::string> places = {m_hives.Dir() + "/open"};
    if (geteuid() == 0) {
        places.push_back(m_hives.Dir() + "/foreign");
    }
    for (const std::string& folder : places) {
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        if (folder.ends_with("open")) {
            ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
        } else {
            ASSERT_EQ(chown(folder.c_str(), kNobody, kNobody), 0);
        }
        const std::string hive = folder + "/velkora/user.hive";
        setenv("VELKORA_USER_HIVE", hive.c_str(), 1);
        RegResetForTests();
        EXPECT_EQ(RegCheckHive(HKEY_CURRENT_USER), ERROR_BADDB) << folder;
        EXPECT_NE(RegGetHiveErrorText().find(folder), std::string::npos) << RegGetHiveErrorText();
        EXPECT_NE(SetDword(HKEY_CURRENT_USER, "Software", "n", 1), ERROR_SUCCESS);
        EXPECT_FALSE(std::filesystem::exists(folder + "/velkora")) << folder;
    }
    setenv("VELKORA_USER_HIVE", m_hives.UserPath().c_str(), 1);

    // No home and no passwd entry: no user hive at all, not one under /tmp.
    if (geteuid() == 0) {
        const pid_t child = fork();
        if (child == 0) {
            unsetenv("HOME");
            unsetenv("XDG_CONFIG_HOME");
            unsetenv("VELKORA_USER_HIVE");
            const bool dropped = setgid(54321) == 0 && setuid(54321) == 0;
            RegResetForTests();
            const bool refused = RegHivePath(HKEY_CURRENT_USER).empty() &&
                                 RegCheckHive(HKEY_CURRENT_USER) == ERROR_BADDB &&
                                 SetDword(HKEY_CURRENT_USER, "Software", "n", 1) != ERROR_SUCCESS;
            _exit(dropped && refused ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(RegistryFiles, DamagedAndForeignFilesAreReportedAndLeftAlone) {
    // A hive whose pages were overwritten in the middle.
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Velkora", "x", 1), ERROR_SUCCESS);
    RegResetForTests();
    std::string damaged = ReadFileBytes(m_hives.UserPath());
    ASSERT_GT(damaged.size(), 8192u);
    for (size_t i = 4096; i < damaged.size(); i += 97) {
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
    }
    WriteFileBytes(m_hives.UserPath(), damaged);
    // Another program's SQLite file, and a file that is not a database at all.
    const std::string foreign = m_hives.Dir() + "/foreign.db";
    RunSql(foreign, "CREATE TABLE keys(a); INSERT INTO keys VALUES(1);");
    const std::string foreignBytes = ReadFileBytes(foreign);
    const std::string text = m_hives.Dir() + "/notes.txt";
    WriteFileBytes(text, "just some text, not a hive\n");
    // A hive of a later format.
    const std::string later = m_hives.Dir() + "/later.hive";

    struct Case {
        std::string path;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {m_hives.UserPath(), damaged}, {foreign, foreignBytes}, {text, ReadFileBytes(text)}};
    {
        setenv("VELKORA_USER_HIVE", later.c_str(), 1);
        RegResetForTests();
        ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software", "x", 1), ERROR_SUCCESS);
        RegResetForTests();
        RunSql(later, "UPDATE hive_format SET version = 2");
        cases.push_back({later, ReadFileBytes(later)});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        setenv("VELKORA_USER_HIVE", c.path.c_str(), 1);
        RegResetForTests();
        testing::internal::CaptureStderr();
        EXPECT_EQ(RegCheckHive(HKEY_CURRENT_USER), ERROR_BADDB);
        uint32_t value = 0;
        EXPECT_EQ(GetDword(HKEY_CURRENT_USER, "Software\\Velkora", "x", value), ERROR_BADDB);
        EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Velkora", "x", 2), ERROR_BADDB);
        RegKey root;
        EXPECT_EQ(root.Open(HKEY_CURRENT_USER, "", KEY_ALL_ACCESS), ERROR_BADDB);
        EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, nullptr), ERROR_BADDB);
        {
            RegTransaction transaction(HKEY_CURRENT_USER);
            EXPECT_EQ(transaction.Status(), ERROR_BADDB);
        }
        const std::string said = testing::internal::GetCapturedStderr();
        // Said once, naming the file, and kept for the program to show.
        EXPECT_NE(said.find(c.path), std::string::npos) << said;
        EXPECT_EQ(said.find(c.path), said.rfind(c.path)) << said;
        EXPECT_NE(RegGetHiveErrorText().find(c.path), std::string::npos);
        EXPECT_EQ(ReadFileBytes(c.path), c.bytes);
        EXPECT_FALSE(std::filesystem::exists(c.path + "-journal"));
    }
}

TEST_F(RegistryFiles, TransactionIsAllOrNothing) {
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Store", "a", 1), ERROR_SUCCESS);
    {
        RegTransaction transaction(HKEY_CURRENT_USER);
        ASSERT_EQ(transaction.Status(), ERROR_SUCCESS);
        EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Store", "a", 2), ERROR_SUCCESS);
        EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Store\\New", "b", 3), ERROR_SUCCESS);
        EXPECT_EQ(Dword("Software\\Store", "a"), "2"); // visible inside, on this thread
        // A failing call inside does not spoil the rest.
        EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);
        // No commit: all of it goes.
    }
    EXPECT_EQ(Dword("Software\\Store", "a"), "1");
    EXPECT_EQ(Dword("Software\\Store\\New", "b"), "error 2");

    {
        RegTransaction transaction(HKEY_CURRENT_USER);
        EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Store", "a", 4), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Store\\New", "b", 5), ERROR_SUCCESS);
        EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
        EXPECT_EQ(transaction.Commit(), ERROR_INVALID_HANDLE);
    }
    RegResetForTests();
    EXPECT_EQ(Dword("Software\\Store", "a"), "4");
    EXPECT_EQ(Dword("Software\\Store\\New", "b"), "5");
}

TEST_F(RegistryFiles, ChangeStampMovesOnlyWithChanges) {
    const uint64_t first = Stamp();
    EXPECT_EQ(Stamp(), first);

    // Our own write moves it; reading and a failed write do not.
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\S", "a", 1), ERROR_SUCCESS);
    const uint64_t afterOwn = Stamp();
    EXPECT_NE(afterOwn, first);
    EXPECT_EQ(Dword("Software\\S", "a"), "1");
    EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Stamp(), afterOwn);

    // Another connection's write, as another process would make it.
    RunSql(m_hives.UserPath(), "UPDATE vals SET data = x'02000000'");
    const uint64_t afterOther = Stamp();
    EXPECT_NE(afterOther, afterOwn);
    EXPECT_EQ(Stamp(), afterOther);
    EXPECT_EQ(Dword("Software\\S", "a"), "2");

    // A file put in its place (as a restore from a backup would) is followed.
    const std::string copy = m_hives.Dir() + "/restored.hive";
    std::filesystem::copy_file(m_hives.UserPath(), copy);
    RunSql(copy, "UPDATE vals SET data = x'03000000'");
    std::filesystem::rename(copy, m_hives.UserPath());
    const uint64_t afterRestore = Stamp();
    EXPECT_NE(afterRestore, afterOther);
    EXPECT_EQ(Dword("Software\\S", "a"), "3");
    // And a removed file reads as empty again.
    std::filesystem::remove(m_hives.UserPath());
    EXPECT_NE(Stamp(), afterRestore);
    EXPECT_EQ(Dword("Software\\S", "a"), "error 2");

    // Each root has its own.
    uint64_t machine = 0;
    EXPECT_EQ(RegQueryChangeStamp(HKEY_LOCAL_MACHINE, &machine), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryChangeStamp(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
}

} // namespace
