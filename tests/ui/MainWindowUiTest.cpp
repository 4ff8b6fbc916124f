// The hidden main window with its tray, the monitor's start and the minidriver's requests,
// as real widgets under the offscreen platform, over the in-process PC/SC library with no
// reader (the card paths run end to end in tests/e2e).
#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "app/shell/VelkMDCertDlg.h"
#include "desktop/PinWatcherFlags.h"
#include "dialogs/about/AboutDlg.h"
#include "dialogs/certs/CertPageDlg.h"
#include "dialogs/config/DlgConfig.h"
#include "dialogs/config/DlgConfigResource.h"
#include "monitor/CertCollection.h"
#include "monitor/events/MonitorState.h"
#include "pcscsim/SimControl.h"
#include "platform/qt/MdMessage.h"
#include "platform/registry/Registry.h"
#include "res/Resource.h"
#include "res/ResourceIcon.h"
#include "tests/registry/TempHives.h"
#include "tests/support/RecordLines.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

class MainWindowUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_log = (m_dir.path() + "/ui.log").toStdString();
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
        ::setenv("VELKORA_USER_HIVE", (m_dir.path() + "/user.hive").toUtf8().constData(), 1);
        ::setenv("VELKORA_MACHINE_HIVE", (m_dir.path() + "/machine.hive").toUtf8().constData(), 1);
        RegResetForTests();
        pcscsim::ResetAll();
        CMsg::SetLanguage(0);
        g_Config.SetShowBalloonInfo(true);
        g_RescanPending = 0;
    }
    void TearDown() override {
        g_CertCollection.Free();
        g_RescanPending = 0;
        ::unsetenv("VELKORA_MSGBOX_LOG");
        ::unsetenv("VELKORA_OS_VERSION");
        RegResetForTests();
    }

    std::vector<std::string> Lines(const std::string& prefix) const {
        return velktest::RecordLines(m_log, prefix);
    }

    static std::vector<std::string> MenuTexts(QMenu* menu) {
        std::vector<std::string> texts;
        for (const QAction* action : menu->actions()) {
            texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        return texts;
    }

    QTemporaryDir m_dir;
    std::string m_log;
};

TEST_F(MainWindowUiTest, CreationRestsOnTheNoCertificateIconAndStartsTheMonitorLater) {
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    EXPECT_FALSE(window.isVisible());
    // The monitor waits its pause on the event loop, not before Create returns.
    EXPECT_FALSE(window.MonitorStarted());
    EXPECT_EQ(g_MonitorRunning.load(), 0u);
    EXPECT_TRUE(g_Tray.IsSet());

    QTRY_VERIFY_WITH_TIMEOUT(window.MonitorStarted(), 10000);
    EXPECT_EQ(g_MonitorRunning.load(), 1u);
    // Nothing registered: the resting icon is the one without certificate.
    QTRY_COMPARE(window.Tray().GetIcon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());
    ASSERT_FALSE(Lines("icon\t").empty());
    EXPECT_EQ(Lines("icon\t").back(), "icon\t314");
    // The greeting of a new tray icon.
    EXPECT_EQ(Lines("balloon\t").front(), "balloon\twarning\t\tVelkora certificate manager");

    QSignalSpy closed(&window, &CVelkMDCertDlg::Closed);
    window.OnCommand(ID_APP_EXIT);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(g_MonitorRunning.load(), 0u);
    EXPECT_TRUE(window.Tray().IsRemoved());
}

TEST_F(MainWindowUiTest, RequestsAnimateAndRestTheTrayIcon) {
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    QApplication::processEvents();

    EXPECT_EQ(window.OnMdMessage(mdmsg::kStartAnimation, 0), 1);
    EXPECT_TRUE(window.Tray().IsAnimating());
    EXPECT_EQ(window.OnMdMessage(mdmsg::kStopAnimation, 0), 1);
    EXPECT_FALSE(window.Tray().IsAnimating());
    EXPECT_EQ(window.Tray().GetIcon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());

    // With a certificate in the list the resting icon is the card with certificate.
    g_CertCollection.Create();
    g_CertCollection.Append(std::make_shared<const CCertCollection>(nullptr, u"", "STORE"));
    window.OnMdMessage(mdmsg::kStartAnimation, 0);
    window.OnMdMessage(mdmsg::kStopAnimation, 0);
    EXPECT_EQ(window.Tray().GetIcon().cacheKey(), LoadIconResource(IDR_MAINFRAME).cacheKey());
    g_CertCollection.Free();

    // An Update that no poll has completed yet keeps the tray quiet.
    window.OnCommand(ID_APP_UPDATE);
    ASSERT_EQ(g_RescanPending.load(), 1u);
    const std::size_t balloons = Lines("balloon\t").size();
    window.OnMdMessage(mdmsg::kShowBalloon, 203);
    window.OnMdMessage(mdmsg::kStartAnimation, 0);
    EXPECT_FALSE(window.Tray().IsAnimating());
    EXPECT_EQ(Lines("balloon\t").size(), balloons);

    g_RescanPending = 0;
    window.OnMdMessage(mdmsg::kShowBalloon, 99999);
    ASSERT_EQ(Lines("balloon\t").size(), balloons + 1);
    EXPECT_EQ(Lines("balloon\t").back(), "balloon\tnone\t\t----Error in Stringtable----");
}

TEST_F(MainWindowUiTest, OpenedMenuFollowsTheLanguageAndDoubleClickRunsShowCertificates) {
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    QMenu* menu = window.TrayMenu();
    ASSERT_NE(menu, nullptr);

    const unsigned ids[] = {203, 202, 204, 205, 201, 0, 200};
    for (const int language : {0, 1, 2, 0}) {
        CMsg::SetLanguage(language);
        menu->popup(QPoint(20, 20));
        QTRY_VERIFY(menu->isVisible());
        const std::vector<std::string> texts = MenuTexts(menu);
        ASSERT_EQ(texts.size(), std::size(ids));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], ids[i] == 0 ? std::string("-") : std::string(CMsg::Get(ids[i])))
                << language << " " << i;
        }
        EXPECT_EQ(menu->defaultAction(), menu->actions().value(1));
        menu->hide();
        QTRY_VERIFY(!menu->isVisible());
    }
    EXPECT_EQ(MenuTexts(menu)[1], "Show Certificates");

    // The certificates dialog that the command opens is closed again as soon as it is open.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (CCertPageDlg* dialog = CCertPageDlg::OpenDialog()) {
            dialog->reject();
        }
    });
    closer.start(10);
    emit window.TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    QTRY_COMPARE(Lines("command\t").size(), std::size_t{1});
    EXPECT_EQ(Lines("command\t").back(), "command\t32783");
}

TEST_F(MainWindowUiTest, ConfigurationAndInfoOpenTheirDialogsAndTheMenuFollowsTheLanguage) {
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    // Choose German in the configuration dialog and confirm.
    bool configSeen = false;
    QTimer::singleShot(0, [&configSeen] {
        auto* dialog = qobject_cast<CDlgConfig*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        configSeen = true;
        auto* languages = dialog->findChild<QComboBox*>(QString::number(IDC_CFG_LANGUAGE));
        ASSERT_NE(languages, nullptr);
        languages->setCurrentIndex(1);
        emit languages->activated(1);
        dialog->accept();
    });
    window.OnCommand(ID_APP_CONFIG);
    EXPECT_TRUE(configSeen);
    QMenu* menu = window.TrayMenu();
    menu->popup(QPoint(20, 20));
    QTRY_VERIFY(menu->isVisible());
    EXPECT_EQ(MenuTexts(menu)[6], "Beenden");
    menu->hide();

    bool aboutSeen = false;
    QTimer::singleShot(0, [&aboutSeen] {
        auto* dialog = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        aboutSeen = true;
        dialog->reject();
    });
    window.OnCommand(ID_APP_ABOUT);
    EXPECT_TRUE(aboutSeen);
    window.Exit();
    CMsg::SetLanguage(0);
}

TEST_F(MainWindowUiTest, PinWatcherOnlyOnTheOldSystemsWithTheSettingOn) {
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "Software\\Velkora\\Minidriver", "msPinThread", 1),
              ERROR_SUCCESS);
    ASSERT_TRUE(g_Config.LoadUser());
    ASSERT_TRUE(g_Config.GetPinWatcherThread());

    for (const char* version : {"10.0", "6.0", "5.1"}) {
        ::setenv("VELKORA_OS_VERSION", version, 1);
        CVelkMDCertDlg window;
        ASSERT_TRUE(window.Create());
        EXPECT_EQ(g_StopPinWatcher.load(), std::string(version) == "5.1" ? 0u : 1u) << version;
        window.Exit();
        EXPECT_EQ(g_StopPinWatcher.load(), 1u);
    }
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    ::setenv("VELKORA_USER_HIVE", (home.path() + "/user.hive").toUtf8().constData(), 1);
    ::setenv("VELKORA_MACHINE_HIVE", (home.path() + "/machine.hive").toUtf8().constData(), 1);
    // No session bus: requests are handed to the window directly here.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
