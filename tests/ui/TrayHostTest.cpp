// CSystemTray in a real X session (the virtual display of with-services.sh) with trayer as
// XEmbed tray host started, stopped and started again: the icon waits while there is no
// host, is docked when one comes, and docked again after the host restarted.
#include "desktop/SystemTray.h"
#include "res/Resource.h"
#include "res/ResourceIcon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <cstdlib>

namespace {

constexpr int kPatienceMs = 30000;

class TrayHost {
public:
    TrayHost() {
        m_process.start(QStringLiteral("trayer"),
                        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                         "24", "--transparent", "false"});
    }
    ~TrayHost() { Stop(); }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    bool Started() { return m_process.waitForStarted(10000); }
    void Stop() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
};

bool Docked(CSystemTray& tray) {
    return QSystemTrayIcon::isSystemTrayAvailable() && !tray.IsAddPending() &&
           tray.TrayIcon().geometry().width() > 0;
}

TEST(TrayHostTest, IconWaitsForTheHostAndComesBackAfterItsRestart) {
    if (QApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "needs an X display (scripts/with-services.sh)";
    }
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "another tray host runs";
    CSystemTray tray;
    EXPECT_FALSE(tray.CreateTrayIcon(nullptr, 0x800A, "Velkora certificate manager",
                                     LoadIconResource(IDR_MAINFRAME), IDR_TRAYMENU));
    EXPECT_TRUE(tray.IsAddPending());

    {
        TrayHost host;
        ASSERT_TRUE(host.Started());
        QTRY_VERIFY_WITH_TIMEOUT(Docked(tray), kPatienceMs);
        EXPECT_FALSE(tray.IsRemoved());
        EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
        host.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(tray.IsAddPending(), kPatienceMs);
    }
    TrayHost again;
    ASSERT_TRUE(again.Started());
    QTRY_VERIFY_WITH_TIMEOUT(Docked(tray), kPatienceMs);
    EXPECT_EQ(tray.TrayIcon().icon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
