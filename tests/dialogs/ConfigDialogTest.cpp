// The configuration dialog as a real widget under the offscreen platform, over real hive
// files: the language switch and its undo, the logging box and level, the hidden LSK box,
// stored values outside the lists, and what OK writes where.
#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/config/DlgConfig.h"
#include "dialogs/config/DlgConfigResource.h"
#include "platform/registry/RegKey.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <string>

namespace {

constexpr const char* kKey = "Software\\Velkora\\Minidriver";
constexpr const char* kMirror = "Software\\Velkora\\pkcs11";

void PutDword(const char* path, const char* name, uint32_t value) {
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof value),
              ERROR_SUCCESS);
}

uint32_t GetDword(const char* path, const char* name) {
    RegKey key;
    uint32_t value = 0xDEADBEEF;
    DWORD size = sizeof value;
    if (key.Open(HKEY_CURRENT_USER, path, KEY_READ) == ERROR_SUCCESS) {
        RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    }
    return value;
}

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_Config = Config();
        PutDword(kMirror, "Language", 9); // the mirror is only written where it exists
    }
    // The settings as stored, loaded the way the program loads them at start.
    void Load() {
        g_Config = Config();
        g_Config.LoadMachine();
        g_Config.LoadUser();
        g_Config.SetLanguage(g_Config.GetLanguage());
    }
    static QComboBox* Combo(CDlgConfig& dialog, int id) { return DlgItem<QComboBox>(dialog, id); }
    static QCheckBox* Check(CDlgConfig& dialog, int id) { return DlgItem<QCheckBox>(dialog, id); }
    static void Choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    TempHives m_hives;
};

TEST_F(ConfigDialogTest, LanguageAppliesAtOnceAndCancelTakesItBack) {
    PutDword(kKey, "Language", 0);
    Load();
    CDlgConfig dialog;
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.windowTitle(), "Configuration");
    EXPECT_EQ(Combo(dialog, IDC_CFG_LANGUAGE)->currentText(), "English");

    Choose(Combo(dialog, IDC_CFG_LANGUAGE), 1);
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(CMsg::Get(800)));
    EXPECT_NE(dialog.windowTitle(), "Configuration");
    EXPECT_EQ(GetDlgItemText(dialog, IDC_CFG_HIDEUNUSED), QString::fromUtf8(CMsg::Get(804)));
    // The list itself is relabelled and keeps the choice.
    EXPECT_EQ(Combo(dialog, IDC_CFG_LANGUAGE)->currentIndex(), 1);
    EXPECT_EQ(Combo(dialog, IDC_CFG_LANGUAGE)->currentText(), QString::fromUtf8(CMsg::Get(911)));
    // Every text fetched now, anywhere in the program, is German.
    EXPECT_EQ(CMsg::Language(), 1);
    EXPECT_STREQ(CMsg::Get(200), "Beenden");

    dialog.reject();
    EXPECT_EQ(CMsg::Language(), 0);
    EXPECT_STREQ(CMsg::Get(200), "Quit");
    EXPECT_EQ(g_Config.GetLanguage(), 0u);
    EXPECT_EQ(GetDword(kKey, "Language"), 0u); // nothing saved
}

TEST_F(ConfigDialogTest, LoggingBoxAndLevelStayConsistent) {
    PutDword(kKey, "Logging", 1); // level 1: logging counts as off
    Load();
    CDlgConfig dialog;
    dialog.OnInitDialog();
    QCheckBox* logging = Check(dialog, IDC_CFG_LOGGING);
    QComboBox* level = Combo(dialog, IDC_CFG_LEVEL);
    EXPECT_FALSE(logging->isChecked());
    EXPECT_EQ(level->currentText(), "1");
    EXPECT_EQ(level->count(), 10);

    Choose(level, 5);
    EXPECT_TRUE(logging->isChecked());
    Choose(level, 0);
    EXPECT_FALSE(logging->isChecked());
    logging->click();
    EXPECT_EQ(level->currentText(), "1");
    logging->click();
    EXPECT_EQ(level->currentText(), "0");
    Choose(level, 7);

    // A path typed before a language change survives the relabelling.
    DlgItem<QLineEdit>(dialog, IDC_CFG_LOGFILE)->setText("/var/log/velk.log");
    Choose(Combo(dialog, IDC_CFG_LANGUAGE), 2);
    EXPECT_EQ(DlgItem<QLineEdit>(dialog, IDC_CFG_LOGFILE)->text(), "/var/log/velk.log");
    EXPECT_EQ(level->currentText(), "7");

    dialog.accept();
    EXPECT_EQ(GetDword(kKey, "Logging"), 7u);
    EXPECT_EQ(GetDword(kKey, "Language"), 2u);
    EXPECT_EQ(GetDword(kMirror, "Language"), 2u);
    EXPECT_TRUE(g_Config.GetLoggingEnabled());
    EXPECT_EQ(g_Config.GetLogFile(), "/var/log/velk.log");
}

TEST_F(ConfigDialogTest, StoredValuesOutsideTheListsAndHiddenSettingsPassThrough) {
    PutDword(kKey, "Language", 3);
    PutDword(kKey, "Logging", 12);
    PutDword(kKey, "lsk", 1);
    PutDword(kKey, "Blocksize", 300); // out of range: 252 from the load on
    PutDword(kKey, "msPinThread", 1);
    const std::string oddPath = "/tmp/\xff\xfe log\x01";
    {
        RegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), "Logfile", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(oddPath.c_str()),
                                 static_cast<DWORD>(oddPath.size() + 1)),
                  ERROR_SUCCESS);
    }
    Load();
    CDlgConfig dialog;
    dialog.OnInitDialog();
    EXPECT_EQ(Combo(dialog, IDC_CFG_LANGUAGE)->currentIndex(), -1);
    EXPECT_EQ(Combo(dialog, IDC_CFG_LEVEL)->currentIndex(), -1);
    EXPECT_TRUE(Check(dialog, IDC_CFG_LOGGING)->isChecked());
    EXPECT_TRUE(Check(dialog, IDC_CFG_LSK)->isHidden());
    EXPECT_TRUE(Check(dialog, IDC_CFG_LSK)->isChecked());

    dialog.accept();
    EXPECT_EQ(GetDword(kKey, "Language"), 3u);
    EXPECT_EQ(GetDword(kKey, "Logging"), 12u);
    EXPECT_EQ(GetDword(kKey, "lsk"), 1u);
    EXPECT_EQ(GetDword(kMirror, "lsk"), 1u);
    EXPECT_EQ(GetDword(kKey, "Blocksize"), 252u);
    EXPECT_EQ(GetDword(kKey, "msPinThread"), 1u);
    EXPECT_EQ(g_Config.GetLogFile(), oddPath);
}

TEST_F(ConfigDialogTest, AnUnwritableHiveClosesTheDialogQuietly) {
    Load();
    // A user hive that can be neither created nor written, whoever runs the test.
    setenv("VELKORA_USER_HIVE", "/proc/velk-no-hive/user.hive", 1);
    RegResetForTests();
    CDlgConfig dialog;
    dialog.OnInitDialog();
    Check(dialog, IDC_CFG_HIDEUNUSED)->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(g_Config.GetHideUnusedCerts());
}

TEST_F(ConfigDialogTest, EveryControlIsNamedAndReachable) {
    Load();
    CDlgConfig dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    for (QWidget* widget : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->isHidden() || qobject_cast<QLabel*>(widget) != nullptr) {
            continue;
        }
        QString name = widget->accessibleName();
        if (const auto* button = qobject_cast<QAbstractButton*>(widget)) {
            name += button->text();
        } else if (const auto* frame = qobject_cast<QGroupBox*>(widget)) {
            name += frame->title();
        }
        EXPECT_FALSE(name.trimmed().isEmpty()) << widget->objectName().toStdString();
    }
    // Tab walks through every focusable control and comes back.
    QWidget* first = QApplication::focusWidget();
    ASSERT_NE(first, nullptr);
    int steps = 0;
    do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ++steps;
    } while (QApplication::focusWidget() != first && steps < 30);
    EXPECT_EQ(steps, 10); // language, four boxes, logging, level, path, OK, Cancel
    dialog.reject();
}

} // namespace
