// The hidden main window as a real widget under the offscreen platform: it never shows, its
// tray icon has its tooltip, and it answers the requests of the minidriver.
#include "PrivateBus.h"
#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "app/shell/TrayCommands.h"
#include "app/shell/VelkMDCertDlg.h"
#include "monitor/events/MonitorState.h"
#include "platform/qt/MdMessage.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        // No records: this test calls the handlers itself and looks at the window.
        ::unsetenv("VELKORA_MSGBOX_LOG");
        CMsg::SetLanguage(0);
        g_Config.SetShowBalloonInfo(true);
        ASSERT_TRUE(m_window.Create());
    }

    QTemporaryDir m_dir;
    CVelkMDCertDlg m_window;
};

TEST_F(MainWindowTest, NeverBecomesVisible) {
    EXPECT_FALSE(m_window.isVisible());
    m_window.show();
    EXPECT_FALSE(m_window.isVisible());
    m_window.setVisible(true);
    m_window.activateWindow();
    QApplication::processEvents();
    EXPECT_FALSE(m_window.isVisible());
    EXPECT_EQ(m_window.TrayIcon()->toolTip().toStdString(), "Velkora certificate manager");
}

TEST_F(MainWindowTest, BalloonRequests) {
    // The greeting of a new tray icon.
    EXPECT_EQ(m_window.LastBalloonText(), "Velkora certificate manager");

    EXPECT_EQ(m_window.OnMdMessage(mdmsg::kShowBalloon, 203), 1);
    EXPECT_EQ(m_window.LastBalloonText(), "Update");
    // Unknown ids, negative ones, and ids that only fit the catalogue when cut to 32 bits.
    for (const qint64 id : {qint64{99999}, qint64{-1}, (qint64{1} << 32) + 203}) {
        m_window.OnMdMessage(mdmsg::kShowBalloon, 203);
        m_window.OnMdMessage(mdmsg::kShowBalloon, id);
        EXPECT_EQ(m_window.LastBalloonText(), "----Error in Stringtable----") << id;
    }

    // Values outside the requests are ignored.
    m_window.OnMdMessage(mdmsg::kShowBalloon, 203);
    for (const quint32 request : {0u, 0x2000u, 0x2006u, 0xFFFFFFFFu}) {
        EXPECT_EQ(m_window.OnMdMessage(request, 201), 1);
    }
    EXPECT_EQ(m_window.LastBalloonText(), "Update");

    // Balloons switched off in the settings.
    g_Config.SetShowBalloonInfo(false);
    EXPECT_EQ(m_window.OnMdMessage(mdmsg::kShowBalloon, 201), 1);
    EXPECT_EQ(m_window.LastBalloonText(), "Update");
    g_Config.SetShowBalloonInfo(true);
}

TEST_F(MainWindowTest, QuitAndExitRequestCloseTheWindow) {
    QSignalSpy closed(&m_window, &CVelkMDCertDlg::Closed);
    const QAction* quit = m_window.TrayMenu()->actions().value(6);
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->data().toInt(), ID_APP_EXIT);
    m_window.TrayMenu()->actions().value(6)->trigger();
    EXPECT_EQ(closed.count(), 1);

    // Update and an unknown command do not close (the commands that open dialogs are tested
    // with their dialogs).
    for (const int id : {ID_APP_UPDATE, 4711}) {
        m_window.OnCommand(id);
    }
    EXPECT_EQ(closed.count(), 1);

    EXPECT_EQ(m_window.OnMdMessage(mdmsg::kExit, 0), 1);
    EXPECT_EQ(closed.count(), 2);
}

// The minidriver's requests from the initial scan and a concurrent "stop" come while the window
// is still being created: they wait for the event loop, in the order they were sent.
TEST(MainWindowCreation, RequestsSentDuringCreationWaitForTheLoop) {
    ::unsetenv("VELKORA_MSGBOX_LOG");
    CMsg::SetLanguage(0);
    g_Config.SetShowBalloonInfo(true);
    g_RescanPending = 0; // an Update of an earlier test would silence the balloon
    CVelkMDCertDlg window;
    QSignalSpy closed(&window, &CVelkMDCertDlg::Closed);
    ASSERT_TRUE(PostMdMessage(mdmsg::kShowBalloon, 203));
    ASSERT_TRUE(PostMdMessage(mdmsg::kExit, 0));
    ASSERT_TRUE(window.Create());
    EXPECT_EQ(window.LastBalloonText(), "Velkora certificate manager");
    EXPECT_TRUE(closed.wait()) << "the stop request was lost";
    EXPECT_EQ(window.LastBalloonText(), "Update");
}

} // namespace

int main(int argc, char** argv) {
    // Settings of a temporary user, not of whoever runs the tests.
    QTemporaryDir home;
    ::setenv("VELKORA_USER_HIVE", (home.path() + "/user.hive").toUtf8().constData(), 1);
    ::setenv("VELKORA_MACHINE_HIVE", (home.path() + "/machine.hive").toUtf8().constData(), 1);
    QApplication app(argc, argv);
    // A bus of its own, so that no request from elsewhere reaches the window under test.
    const PrivateBus bus;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
