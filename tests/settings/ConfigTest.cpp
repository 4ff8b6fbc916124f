// Config over real hive files: load order, value rules, write-back, the
// mirror, and a machine hive that the user may not write.
#include "app/settings/Config.h"
#include "app/catalogue/Msg.h"
#include "app/settings/RegHelpers.h"
#include "platform/registry/RegKey.h"
#include "tests/registry/TempHives.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

constexpr const char* kKey = "Software\\Velkora\\Minidriver";
constexpr const char* kMirror = "Software\\Velkora\\pkcs11";

// Every value of a key as "type:number" or "type:'text'", by name.
std::map<std::string, std::string> ValuesOf(HKEY root, const char* path) {
    std::map<std::string, std::string> values;
    RegKey key;
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        BYTE data[600] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        std::string shown = std::to_string(type) + ":";
        if (type == REG_DWORD && size == 4) {
            uint32_t number = 0;
            std::memcpy(&number, data, 4);
            shown += std::to_string(number);
        } else {
            shown += "'" + std::string(reinterpret_cast<const char*>(data), size) + "'";
        }
        values[name] = shown;
    }
    return values;
}

class ConfigStore : public ::testing::Test {
protected:
    ConfigStore() { unsetenv("VELKORA_OS_VERSION"); }
    TempHives m_hives;
};

TEST_F(ConfigStore, FirstStartWithoutKeysWritesAllDefaultsToTheUser) {
    Config config;
    EXPECT_TRUE(config.LoadMachine());
    EXPECT_TRUE(config.LoadUser());
    config.Save();
    const std::map<std::string, std::string> expected = {
        {"Language", "4:1"},        {"Logging", "4:0"},        {"lsk", "4:0"},
        {"hideunusedcerts", "4:0"}, {"showbalooninfo", "4:1"}, {"KeyboardPIN", "4:0"},
        {"msPinThread", "4:0"},     {"Logfile", "1:''"},       {"pinDialogEnabled", "4:1"},
        {"Blocksize", "4:252"},
    };
    EXPECT_EQ(ValuesOf(HKEY_CURRENT_USER, kKey), expected);
    // No mirror where the PKCS#11 module has not made its key.
    RegKey mirror;
    EXPECT_EQ(mirror.Open(HKEY_CURRENT_USER, kMirror, KEY_READ), ERROR_FILE_NOT_FOUND);
    // Reading the machine numbers with full access made the machine key (root may).
    if (geteuid() == 0) {
        EXPECT_EQ(mirror.Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ), ERROR_SUCCESS);
    }

    // A second start reads back the same and writes the same.
    RegResetForTests();
    Config again;
    again.LoadMachine();
    again.LoadUser();
    again.Save();
    EXPECT_EQ(ValuesOf(HKEY_CURRENT_USER, kKey), expected);
    EXPECT_EQ(again.GetBlockSize(), 252u);
    EXPECT_TRUE(again.GetShowBalloonInfo());
    EXPECT_TRUE(again.GetPinDialogEnabled());
    EXPECT_FALSE(again.GetPinWatcherThread());
}

TEST_F(ConfigStore, LanguageAndLoggingAreReadAsNumbers) {
    CMsg::SetLanguage(1);
    const std::string german = CMsg::Get(100);
    CMsg::SetLanguage(0);
    ASSERT_NE(german, CMsg::Get(100));

    Put(HKEY_CURRENT_USER, kKey, "Language", 7);
    Put(HKEY_CURRENT_USER, kKey, "Logging", 1);
    Config config;
    config.LoadUser();
    EXPECT_EQ(config.GetLanguage(), 7u);
    config.SetLanguage(config.GetLanguage());
    EXPECT_EQ(std::string(CMsg::Get(100)), german); // any other number means German
    EXPECT_EQ(config.GetLoggingLevel(), 1u);
    EXPECT_FALSE(config.GetLoggingEnabled());
    config.Save();
    EXPECT_EQ(ValuesOf(HKEY_CURRENT_USER, kKey)["Logging"], "4:1");
    EXPECT_EQ(ValuesOf(HKEY_CURRENT_USER, kKey)["Language"], "4:7");

    Put(HKEY_CURRENT_USER, kKey, "Logging", 2);
    config.LoadUser();
    EXPECT_EQ(config.GetLoggingLevel(), 2u);
    EXPECT_TRUE(config.GetLoggingEnabled());
    config.SetLanguage(0);
    EXPECT_NE(std::string(CMsg::Get(100)), german);
}

TEST_F(ConfigStore, BlocksizeOnlyBetween21And252InEachLoad) {
    const struct {
        uint32_t stored;
        uint32_t read;
    } cases[] = {{20, 252}, {21, 21}, {252, 252}, {253, 252}, {0, 252}, {0xFFFFFFFF, 252}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Put(HKEY_CURRENT_USER, kKey, "Blocksize", c.stored);
        Config config;
        config.LoadUser();
        EXPECT_EQ(config.GetBlockSize(), c.read);
    }

    // A valid machine value, then a user value that is not valid or missing.
    Put(HKEY_LOCAL_MACHINE, kKey, "Blocksize", 100);
    Put(HKEY_CURRENT_USER, kKey, "Blocksize", 253);
    Config config;
    config.LoadMachine();
    EXPECT_EQ(config.GetBlockSize(), 100u);
    config.LoadUser();
    EXPECT_EQ(config.GetBlockSize(), 252u);
    RegKey user;
    ASSERT_EQ(user.Open(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(user.get(), "Blocksize"), ERROR_SUCCESS);
    config.LoadMachine();
    config.LoadUser();
    EXPECT_EQ(config.GetBlockSize(), 252u);
}

TEST_F(ConfigStore, FlagsAreTrueOnlyForOneAndUserOverridesMachine) {
    // Machine turns things on, the user turns some off again with 2 and 0.
    for (const char* name : {"lsk", "hideunusedcerts", "KeyboardPIN", "msPinThread"}) {
        Put(HKEY_LOCAL_MACHINE, kKey, name, 1);
    }
    Put(HKEY_LOCAL_MACHINE, kKey, "Language", 2);
    PutText(HKEY_LOCAL_MACHINE, kKey, "Logfile", "/var/log/machine.log");
    Put(HKEY_CURRENT_USER, kKey, "lsk", 2);
    Put(HKEY_CURRENT_USER, kKey, "KeyboardPIN", 0);
    Put(HKEY_CURRENT_USER, kKey, "showbalooninfo", 2);
    Put(HKEY_CURRENT_USER, kKey, "pinDialogEnabled", 2);
    // Not a REG_DWORD: the type is not looked at, the first bytes count.
    RegKey user;
    ASSERT_EQ(user.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    const BYTE one[2] = {1, 0};
    ASSERT_EQ(RegSetValueExA(user.get(), "hideunusedcerts", 0, REG_BINARY, one, 2), ERROR_SUCCESS);
    // A file name longer than the 500 bytes read leaves the machine's in force.
    PutText(HKEY_CURRENT_USER, kKey, "Logfile", std::string(600, 'x'));

    Config config;
    config.LoadMachine();
    EXPECT_TRUE(config.GetLskProfile());
    EXPECT_TRUE(config.GetKeyboardPin());
    EXPECT_TRUE(config.GetPinWatcherThread());
    EXPECT_EQ(config.GetLanguage(), 2u);
    config.LoadUser();
    EXPECT_FALSE(config.GetLskProfile());
    EXPECT_FALSE(config.GetKeyboardPin());
    EXPECT_FALSE(config.GetShowBalloonInfo());
    EXPECT_FALSE(config.GetPinDialogEnabled());
    EXPECT_TRUE(config.GetHideUnusedCerts());
    EXPECT_TRUE(config.GetPinWatcherThread());
    EXPECT_EQ(config.GetLanguage(), 2u);
    EXPECT_EQ(config.GetLogFile(), "/var/log/machine.log");

    config.Save();
    auto saved = ValuesOf(HKEY_CURRENT_USER, kKey);
    EXPECT_EQ(saved["lsk"], "4:0");
    EXPECT_EQ(saved["showbalooninfo"], "4:0");
    EXPECT_EQ(saved["hideunusedcerts"], "4:1");
    EXPECT_EQ(saved["msPinThread"], "4:1");
    EXPECT_EQ(saved["Logfile"], "1:'/var/log/machine.log'"); // written without its NUL
}

TEST_F(ConfigStore, MirrorIsWrittenOnlyWhereItsKeyExists) {
    Config config;
    config.SetLanguage(0);
    config.SetKeyboardPin(true);
    config.SetLskProfile(true);
    config.SetHideUnusedCerts(false);
    config.Save();
    RegKey mirror;
    EXPECT_EQ(mirror.Open(HKEY_CURRENT_USER, kMirror, KEY_READ), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(mirror.Create(HKEY_CURRENT_USER, kMirror, KEY_ALL_ACCESS), ERROR_SUCCESS);
    config.Save();
    const std::map<std::string, std::string> expected = {
        {"Language", "4:0"}, {"KeyboardPIN", "4:1"}, {"lsk", "4:1"}, {"hideunusedcerts", "4:0"}};
    EXPECT_EQ(ValuesOf(HKEY_CURRENT_USER, kMirror), expected);
    // Never read back: a changed mirror does not reach the settings.
    Put(HKEY_CURRENT_USER, kMirror, "Language", 2);
    Config other;
    other.LoadUser();
    EXPECT_EQ(other.GetLanguage(), 0u);
}

TEST_F(ConfigStore, HelpersKeepTheirOpenModes) {
    uint32_t number = 42;
    std::string text = "kept";
    // Reading a string opens for reading only: nothing is created.
    EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, "Software\\A", "x", text));
    EXPECT_EQ(text, "kept");
    RegKey probe;
    EXPECT_EQ(probe.Open(HKEY_CURRENT_USER, "Software\\A", KEY_READ), ERROR_FILE_NOT_FOUND);
    // Writing a number does not create the key either.
    EXPECT_FALSE(RegWriteDword(HKEY_CURRENT_USER, "Software\\A", "x", 1));
    EXPECT_EQ(probe.Open(HKEY_CURRENT_USER, "Software\\A", KEY_READ), ERROR_FILE_NOT_FOUND);
    // Reading a number creates the key, and fails on the missing value.
    EXPECT_FALSE(RegReadDword(HKEY_CURRENT_USER, "Software\\A", "x", number));
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(probe.Open(HKEY_CURRENT_USER, "Software\\A", KEY_READ), ERROR_SUCCESS);
    EXPECT_TRUE(RegWriteDword(HKEY_CURRENT_USER, "Software\\A", "x", 9));
    EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, "Software\\A", "x", number));
    EXPECT_EQ(number, 9u);
    // Writing a string creates its key; the text stops at its first NUL on reading.
    EXPECT_TRUE(RegWriteString(HKEY_CURRENT_USER, "Software\\B\\C", "s", "abc"));
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, "Software\\B\\C", "s", text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(RegWriteString(HKEY_CURRENT_USER, "Software\\B\\C", "s", std::string("ab\0c", 4)));
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, "Software\\B\\C", "s", text));
    EXPECT_EQ(text, "ab");
    // Exactly 500 bytes still read; one more does not.
    EXPECT_TRUE(RegWriteString(HKEY_CURRENT_USER, "Software\\B", "l", std::string(500, 'y')));
    EXPECT_TRUE(RegReadString(HKEY_CURRENT_USER, "Software\\B", "l", text));
    EXPECT_EQ(text, std::string(500, 'y'));
    EXPECT_TRUE(RegWriteString(HKEY_CURRENT_USER, "Software\\B", "l", std::string(501, 'y')));
    EXPECT_FALSE(RegReadString(HKEY_CURRENT_USER, "Software\\B", "l", text));
    EXPECT_EQ(text, std::string(500, 'y'));
}

TEST_F(ConfigStore, MachineHiveTheUserCannotWriteGivesStringsButNoNumbers) {
    Put(HKEY_LOCAL_MACHINE, kKey, "Language", 0);
    Put(HKEY_LOCAL_MACHINE, kKey, "lsk", 1);
    Put(HKEY_LOCAL_MACHINE, kKey, "Blocksize", 100);
    PutText(HKEY_LOCAL_MACHINE, kKey, "Logfile", "/var/log/md.log");
    LockMachineHiveFor(m_hives);
    const std::string report = RunAsUser([] {
        Config config;
        config.LoadMachine();
        std::string out = "language=" + std::to_string(config.GetLanguage()) +
                          " lsk=" + std::to_string(config.GetLskProfile()) +
                          " blocksize=" + std::to_string(config.GetBlockSize()) +
                          " logfile=" + config.GetLogFile();
        config.LoadUser();
        config.Save();
        RegKey key;
        out += " saved=" + std::to_string(key.Open(HKEY_CURRENT_USER, kKey, KEY_READ));
        return out;
    });
    EXPECT_EQ(report, "language=1 lsk=0 blocksize=252 logfile=/var/log/md.log saved=0");
}

TEST_F(ConfigStore, DamagedUserHiveIsNeitherReadNorOverwritten) {
    WriteFileBytes(m_hives.UserPath(), std::string(4096, 'Z'));
    const std::string before = ReadFileBytes(m_hives.UserPath());
    testing::internal::CaptureStderr();
    Config config;
    config.LoadMachine();
    config.LoadUser();
    config.Save();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(config.GetLanguage(), 1u);
    EXPECT_EQ(ReadFileBytes(m_hives.UserPath()), before);
    EXPECT_NE(said.find(m_hives.UserPath()), std::string::npos);
    EXPECT_EQ(RegCheckHive(HKEY_CURRENT_USER), ERROR_BADDB);
}

} // namespace
