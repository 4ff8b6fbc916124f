// The velkora-reg program, run as a separate process on the hives that a
// first Config load and save wrote.
#include "app/settings/Config.h"
#include "tests/registry/TempHives.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>
#include <string>

#ifndef VELK_REG_TOOL
#error "VELK_REG_TOOL must name the velkora-reg program"
#endif

namespace {

using ToolResult = velktest::CommandRun; // stdout and stderr together in `out`

ToolResult RunTool(const std::string& args, const std::string& input = "") {
    return velktest::RunCommand(std::string("printf '%s' '") + input + "' | " + VELK_REG_TOOL +
                                " " + args + " 2>&1");
}

class RegTool : public ::testing::Test {
protected:
    RegTool() { unsetenv("VELKORA_OS_VERSION"); }
    TempHives m_hives;
};

TEST_F(RegTool, QueryShowsWhatTheFirstStartWrote) {
    Config config;
    config.LoadMachine();
    config.LoadUser();
    config.Save();
    RegResetForTests();

    const ToolResult query = RunTool("query 'HKCU\\Software\\Velkora\\Minidriver'");
    EXPECT_EQ(query.status, 0);
    EXPECT_EQ(query.out, "\n"
                         "HKEY_CURRENT_USER\\Software\\Velkora\\Minidriver\n"
                         "    Language    REG_DWORD    0x1\n"
                         "    Logging    REG_DWORD    0x0\n"
                         "    lsk    REG_DWORD    0x0\n"
                         "    hideunusedcerts    REG_DWORD    0x0\n"
                         "    showbalooninfo    REG_DWORD    0x1\n"
                         "    KeyboardPIN    REG_DWORD    0x0\n"
                         "    msPinThread    REG_DWORD    0x0\n"
                         "    Logfile    REG_SZ    \n"
                         "    pinDialogEnabled    REG_DWORD    0x1\n"
                         "    Blocksize    REG_DWORD    0xfc\n"
                         "\n");

    const ToolResult one = RunTool("query HKEY_CURRENT_USER\\\\software\\\\velkora\\\\minidriver "
                                   "/v BLOCKSIZE");
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.out.find("    Blocksize    REG_DWORD    0xfc\n"), std::string::npos) << one.out;

    const ToolResult tree = RunTool("query HKCU\\\\Software /s");
    EXPECT_EQ(tree.status, 0);
    EXPECT_NE(tree.out.find("HKEY_CURRENT_USER\\Software\\Velkora\n\n"
                            "HKEY_CURRENT_USER\\Software\\Velkora\\Minidriver\n"
                            "    Language"),
              std::string::npos)
        << tree.out;
}

TEST_F(RegTool, ChangesMadeByTheToolReachConfig) {
    EXPECT_EQ(RunTool("add HKCU\\\\Software\\\\Velkora\\\\Minidriver /v Language /t REG_DWORD "
                      "/d 2")
                  .status,
              0);
    EXPECT_EQ(
        RunTool("add HKCU\\\\Software\\\\Velkora\\\\Minidriver /v Logfile /d /tmp/md.log").status,
        0);
    // Overwriting asks first; "n" keeps the value.
    const ToolResult refused = RunTool(
        "add HKCU\\\\Software\\\\Velkora\\\\Minidriver /v Language /t REG_DWORD /d 0", "n\\n");
    EXPECT_EQ(refused.status, 6);
    EXPECT_EQ(RunTool("add HKCU\\\\Software\\\\Velkora\\\\Minidriver /v Blocksize /t REG_DWORD "
                      "/d 0x30 /f")
                  .status,
              0);
    Config config;
    config.LoadUser();
    EXPECT_EQ(config.GetLanguage(), 2u);
    EXPECT_EQ(config.GetLogFile(), "/tmp/md.log");
    EXPECT_EQ(config.GetBlockSize(), 48u);

    // Export is readable text of the whole tree.
    const std::string file = m_hives.Dir() + "/export.txt";
    EXPECT_EQ(RunTool("export HKCU\\\\Software " + file).status, 0);
    const std::string exported = ReadFileBytes(file);
    EXPECT_NE(exported.find("[HKEY_CURRENT_USER\\Software\\Velkora\\Minidriver]\n"
                            "\"Language\"=dword:00000002\n"
                            "\"Logfile\"=\"/tmp/md.log\"\n"
                            "\"Blocksize\"=dword:00000030\n"),
              std::string::npos)
        << exported;
    // An existing file is kept unless /y.
    EXPECT_EQ(RunTool("export HKCU\\\\Software " + file, "no\\n").status, 6);
    EXPECT_EQ(RunTool("export HKCU\\\\Software " + file + " /y").status, 0);

    EXPECT_EQ(RunTool("delete HKCU\\\\Software\\\\Velkora /f").status, 0);
    EXPECT_EQ(RunTool("query HKCU\\\\Software\\\\Velkora").status, 2);
}

TEST_F(RegTool, ErrorsHaveTheirOwnExitCodes) {
    EXPECT_EQ(RunTool("").status, 0); // usage
    EXPECT_NE(RunTool("--help").out.find("Exit codes"), std::string::npos);
    EXPECT_EQ(RunTool("frobnicate HKCU").status, 1);
    EXPECT_EQ(RunTool("query HKXX\\\\Software").status, 1);
    EXPECT_EQ(RunTool("query HKCU /t REG_SZ").status, 1);
    EXPECT_EQ(RunTool("add HKCU\\\\X /v n /t REG_WORD /d 1").status, 1);
    EXPECT_EQ(RunTool("add HKCU\\\\X /v n /t REG_DWORD /d 12z").status, 5);
    EXPECT_EQ(RunTool("add HKCU\\\\X /v n /t REG_BINARY /d 0g").status, 5);
    EXPECT_EQ(RunTool("query HKLM\\\\SOFTWARE\\\\Nothing").status, 2);
    EXPECT_EQ(RunTool("delete HKCU\\\\Nothing /f").status, 2);

    WriteFileBytes(m_hives.MachinePath(), "not a hive at all");
    const ToolResult bad = RunTool("query HKLM\\\\SOFTWARE");
    EXPECT_EQ(bad.status, 4);
    EXPECT_NE(bad.out.find(m_hives.MachinePath()), std::string::npos) << bad.out;
    EXPECT_EQ(ReadFileBytes(m_hives.MachinePath()), "not a hive at all");

    if (geteuid() == 0) {
        RegResetForTests();
        std::filesystem::remove(m_hives.MachinePath());
        EXPECT_EQ(RunTool("add HKLM\\\\SOFTWARE\\\\V /v n /t REG_DWORD /d 1").status, 0);
        // The same as nobody, who may only read the machine hive.
        const std::string user =
            "setpriv --reuid=65534 --regid=65534 --clear-groups " + std::string(VELK_REG_TOOL);
        const std::string command = user + " add 'HKLM\\SOFTWARE\\V' /v n /t REG_DWORD /d 2 /f";
        const int status = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3);
        const std::string read = user + " query 'HKLM\\SOFTWARE\\V' >/dev/null";
        const int readStatus = std::system(read.c_str());
        EXPECT_EQ(WIFEXITED(readStatus) ? WEXITSTATUS(readStatus) : -1, 0);
    }
}

TEST_F(RegTool, NumbersAreDecimalAndStoredNamesCannotForgeLinesNorFollowALink) {
    // A leading 0 is not octal; hex needs 0x.
    EXPECT_EQ(RunTool("add HKCU\\\\T /v A /t REG_DWORD /d 010 /f").status, 0);
    EXPECT_EQ(RunTool("add HKCU\\\\T /v B /t REG_QWORD /d 08 /f").status, 0);
    EXPECT_EQ(RunTool("add HKCU\\\\T /v C /t REG_DWORD /d 0x1F /f").status, 0);
    EXPECT_EQ(RunTool("add HKCU\\\\T /v D /t REG_DWORD /d 0x /f").status, 5);
    const ToolResult numbers = RunTool("query HKCU\\\\T");
    EXPECT_NE(numbers.out.find("A    REG_DWORD    0xa\n    B    REG_QWORD    0x8\n"
                               "    C    REG_DWORD    0x1f\n"),
              std::string::npos)
        << numbers.out;

    // Names and text as another program may have stored them.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Evil", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string text = "red \x1b[31m";
    RegSetValueExA(key, "x\n[HKEY_LOCAL_MACHINE\\Forged]", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    RegResetForTests();
    const ToolResult query = RunTool("query HKCU\\\\Software\\\\Evil");
    EXPECT_EQ(query.out.find_first_of("\x1b"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("x\\x0a[HKEY_LOCAL_MACHINE\\Forged]    REG_SZ    red \\x1b[31m"),
              std::string::npos)
        << query.out;
    const std::string file = m_hives.Dir() + "/export.txt";
    EXPECT_EQ(RunTool("export HKCU\\\\Software " + file).status, 0);
    const std::string exported = ReadFileBytes(file);
    EXPECT_EQ(exported.find("\n[HKEY_LOCAL_MACHINE"), std::string::npos) << exported;
    EXPECT_EQ(exported.find('\x1b'), std::string::npos) << exported;

    // An export name that is a link someone left leads nowhere.
    const std::string target = m_hives.Dir() + "/target";
    WriteFileBytes(target, "keep");
    const std::string link = m_hives.Dir() + "/link.txt";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_NE(RunTool("export HKCU\\\\Software " + link + " /y").status, 0);
    EXPECT_EQ(ReadFileBytes(target), "keep");
}

} // namespace
