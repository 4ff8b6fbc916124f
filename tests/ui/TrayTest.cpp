// CSystemTray as a real QSystemTrayIcon under the offscreen platform (which has no tray host,
// so the icon starts "add pending"; tests that need a host replace the probe), and the icons
// it shows.
#include "desktop/StatusNotifierItem.h"
#include "desktop/SystemTray.h"
#include "desktop/TrayIconSink.h"
#include "res/IconPainter.h"
#include "res/Resource.h"
#include "res/ResourceIcon.h"
#include "tests/shell/PrivateBus.h"
#include "tests/support/RecordLines.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<QIcon> AnimationFrames() {
    std::vector<QIcon> frames;
    for (unsigned id = IDI_ANIM_FIRST; id <= IDI_ANIM_LAST; ++id) {
        frames.push_back(LoadIconResource(id));
    }
    return frames;
}

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_log = (m_dir.path() + "/ui.log").toStdString();
        ::setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("VELKORA_MSGBOX_LOG"); }

    // A tray with a host, created like the main window's.
    static void CreateShown(CSystemTray& tray, unsigned menu = IDR_TRAYMENU, bool hidden = false) {
        tray.SetTrayAvailableProbe([] { return true; });
        ASSERT_TRUE(tray.CreateTrayIcon(nullptr, 0x800A, "Velkora certificate manager",
                                        LoadIconResource(IDR_MAINFRAME), menu, hidden));
    }

    std::vector<std::string> LogLines() const { return velktest::RecordLines(m_log); }

    QTemporaryDir m_dir;
    std::string m_log;
};

TEST_F(TrayTest, IconsAreDrawnForEveryResourceAndSize) {
    std::vector<unsigned> ids = {IDR_MAINFRAME, IDI_NOCERT};
    for (unsigned id = IDI_ANIM_FIRST; id <= IDI_ANIM_LAST; ++id) {
        ids.push_back(id);
    }
    // Each tray size is rendered, not scaled from another.
    const QIcon icon = LoadIconResource(IDR_MAINFRAME);
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        EXPECT_EQ(icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  RenderIconResource(IDR_MAINFRAME, size))
            << size;
        std::vector<QImage> images;
        for (const unsigned id : ids) {
            const QImage image = RenderIconResource(id, size);
            ASSERT_EQ(image.size(), QSize(size, size)) << id;
            // Transparent round the card's corners, opaque in the card's body.
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << id << " " << size;
            EXPECT_EQ(qAlpha(image.pixel(size / 4, size / 2)), 255) << id << " " << size;
            for (const QImage& other : images) {
                EXPECT_NE(image, other) << "icon " << id << " looks like another at " << size;
            }
            images.push_back(image);
        }
        // The resting icons say which they are by colour too: 314 is grey.
        const QRgb body128 = images[0].pixel(size / 4, size * 3 / 4 - 1);
        const QRgb body314 = images[1].pixel(size / 4, size * 3 / 4 - 1);
        EXPECT_GT(qBlue(body128), qRed(body128) + 40) << size;
        EXPECT_LT(std::abs(qBlue(body314) - qRed(body314)), 40) << size;
    }
    for (const unsigned unknown : {0u, 127u, 129u, 300u, 309u, 313u, 315u}) {
        EXPECT_TRUE(RenderIconResource(unknown, 16).isNull()) << unknown;
        EXPECT_TRUE(LoadIconResource(unknown).isNull()) << unknown;
    }
    EXPECT_TRUE(RenderIconResource(IDR_MAINFRAME, 0).isNull());
    EXPECT_TRUE(RenderIconResource(IDR_MAINFRAME, 100000).isNull());
}

TEST_F(TrayTest, WithoutTrayHostTheIconWaitsAndComesWithTheHost) {
    bool host = false;
    CSystemTray tray;
    tray.SetTrayAvailableProbe([&host] { return host; });
    EXPECT_FALSE(tray.CreateTrayIcon(nullptr, 0x800A, "tip", LoadIconResource(IDR_MAINFRAME),
                                     IDR_TRAYMENU, false, "Hello", "", NIIF_WARNING, 10));
    EXPECT_TRUE(tray.IsEnabled());
    EXPECT_TRUE(tray.IsAddPending());
    EXPECT_TRUE(tray.IsHidden());
    EXPECT_TRUE(tray.IsRemoved());
    // Changes while pending are kept.
    EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());

    // A retry without a host leaves it pending; the host's arrival adds it.
    EXPECT_FALSE(tray.RetryPendingAdd());
    EXPECT_TRUE(tray.IsAddPending());
    host = true;
    tray.OnTaskbarCreated();
    EXPECT_FALSE(tray.IsAddPending());
    EXPECT_FALSE(tray.IsRemoved());
    EXPECT_TRUE(tray.TrayIcon().isVisible());
    EXPECT_EQ(tray.TrayIcon().icon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());
    // The greeting was given once, with the first try, not again with the late add.
    EXPECT_EQ(velktest::RecordLines(m_log, "balloon\twarning\t\tHello").size(), 1u);

    // A host that restarts: the icon is added again; nothing is pending after a removal.
    tray.OnTaskbarCreated();
    EXPECT_FALSE(tray.IsAddPending());
    EXPECT_TRUE(tray.RemoveIcon());
    EXPECT_FALSE(tray.RemoveIcon());
    EXPECT_TRUE(tray.IsRemoved());
    EXPECT_FALSE(tray.TrayIcon().isVisible());
    EXPECT_FALSE(tray.RetryPendingAdd());

    // An icon created hidden stays out of the tray, also when a host comes.
    CSystemTray hidden;
    CreateShown(hidden, IDR_TRAYMENU, true);
    EXPECT_TRUE(hidden.IsHidden());
    hidden.OnTaskbarCreated();
    EXPECT_FALSE(hidden.TrayIcon().isVisible());
    EXPECT_TRUE(hidden.ChangeIcon(IDI_NOCERT));
}

// A StatusNotifier watcher that comes after the program: it records the items that ask to be
// shown, and speaks to them as a panel does.
class LateStatusNotifierWatcher : public QDBusVirtualObject {
public:
    LateStatusNotifierWatcher()
        : m_bus(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                              QStringLiteral("late-watcher"))) {
        m_ok = m_bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), this) &&
               m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    ~LateStatusNotifierWatcher() override {
        m_bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        m_bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("late-watcher"));
    }
    bool Ok() const { return m_ok; }
    QStringList Items() const {
        const std::lock_guard lock(m_mutex);
        return m_items;
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        if (message.member() == QLatin1String("RegisterStatusNotifierItem") &&
            !message.arguments().isEmpty()) {
            const std::lock_guard lock(m_mutex);
            m_items << message.arguments().first().toString();
        }
        return true;
    }
    // A call to the item, with the event loop running while the answer comes.
    QDBusMessage CallItem(const QString& service, const QString& interface, const QString& method,
                          const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, QStringLiteral("/StatusNotifierItem"), interface, method);
        call.setArguments(arguments);
        return m_bus.call(call, QDBus::BlockWithGui);
    }

private:
    QDBusConnection m_bus;
    bool m_ok = false;
    mutable std::mutex m_mutex;
    QStringList m_items;
};

TEST_F(TrayTest, StatusNotifierHostThatComesLaterGetsTheIcon) {
    CSystemTray tray;
    tray.SetTrayAvailableProbe([] { return false; }); // Qt found no tray of its own
    EXPECT_FALSE(tray.CreateTrayIcon(nullptr, 0x800A, "Velkora certificate manager",
                                     LoadIconResource(IDR_MAINFRAME), IDR_TRAYMENU));
    ASSERT_TRUE(tray.IsAddPending());
    ASSERT_TRUE(tray.SetDefaultMenuItem(1, true));
    QSignalSpy commands(&tray, &CSystemTray::Command);

    LateStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.Ok());
    QTRY_COMPARE(watcher.Items().size(), 1);
    ASSERT_NE(tray.StatusNotifierItem(), nullptr);
    const QString item = tray.StatusNotifierItem()->ServiceName();
    EXPECT_EQ(watcher.Items().front(), item);
    EXPECT_FALSE(tray.IsAddPending());
    EXPECT_FALSE(tray.IsRemoved());

    // What the panel reads: the tooltip and the icon in its sizes.
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
    const QDBusMessage icon = watcher.CallItem(item, properties, QStringLiteral("Get"),
                                               {sni, QStringLiteral("IconPixmap")});
    ASSERT_EQ(icon.type(), QDBusMessage::ReplyMessage) << icon.errorMessage().toStdString();
    ASSERT_FALSE(tray.StatusNotifierItem()->IconPixmap().isEmpty());
    // Another icon shows other pixmaps, and the first one its own again.
    const QByteArray first = tray.StatusNotifierItem()->IconPixmap().front().bytes;
    ASSERT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    EXPECT_NE(tray.StatusNotifierItem()->IconPixmap().front().bytes, first);
    ASSERT_TRUE(tray.ChangeIcon(IDR_MAINFRAME));
    EXPECT_EQ(tray.StatusNotifierItem()->IconPixmap().front().bytes, first);
    const QDBusMessage tip =
        watcher.CallItem(item, properties, QStringLiteral("Get"), {sni, QStringLiteral("ToolTip")});
    ASSERT_EQ(tip.type(), QDBusMessage::ReplyMessage) << tip.errorMessage().toStdString();
    SniToolTip toolTip;
    qvariant_cast<QDBusArgument>(tip.arguments().first().value<QDBusVariant>().variant()) >>
        toolTip;
    EXPECT_EQ(toolTip.title.toStdString(), "Velkora certificate manager");

    // A click runs the default command.
    watcher.CallItem(item, sni, QStringLiteral("Activate"), {0, 0});
    QTRY_COMPARE(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).toInt(), ID_APP_SHOWCERTS);

    // Removed, the item leaves the bus.
    EXPECT_TRUE(tray.RemoveIcon());
    EXPECT_EQ(tray.StatusNotifierItem(), nullptr);
}

TEST_F(TrayTest, AnimationCyclesTheFramesAndRestoresTheSavedIcon) {
    CSystemTray tray;
    CreateShown(tray);
    const QIcon resting = LoadIconResource(IDR_MAINFRAME);

    // Nothing to animate: refused, icon untouched.
    EXPECT_FALSE(tray.StartAnimation(10, 0xFFFFFFFF));
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.GetIcon().cacheKey(), resting.cacheKey());
    EXPECT_FALSE(tray.StopIconAnimation());

    const std::vector<QIcon> frames = AnimationFrames();
    ASSERT_TRUE(tray.SetAnimationIcons(frames));
    ASSERT_TRUE(tray.StartAnimation(20, 0xFFFFFFFF));
    EXPECT_TRUE(tray.IsAnimating());
    // The first tick shows the second frame; through the end of the list and round again.
    EXPECT_EQ(tray.GetIcon().cacheKey(), resting.cacheKey());
    std::vector<std::size_t> shown;
    QElapsedTimer clock;
    clock.start();
    while (shown.size() < 2 * frames.size() + 1 && clock.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const std::size_t frame = tray.CurrentFrame();
        if (tray.GetIcon().cacheKey() == resting.cacheKey()) {
            continue;
        }
        if (shown.empty() || shown.back() != frame) {
            shown.push_back(frame);
        }
        ASSERT_EQ(tray.GetIcon().cacheKey(), frames[frame].cacheKey()) << frame;
    }
    ASSERT_EQ(shown.size(), 2 * frames.size() + 1);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i], (i + 1) % frames.size()) << i;
    }

    // The icon set during the animation is not the one that comes back.
    EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    EXPECT_TRUE(tray.StopIconAnimation());
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.GetIcon().cacheKey(), resting.cacheKey());
    EXPECT_EQ(tray.TrayIcon().icon().cacheKey(), resting.cacheKey());
    QTest::qWait(50);
    EXPECT_EQ(tray.GetIcon().cacheKey(), resting.cacheKey());
    EXPECT_FALSE(tray.StopIconAnimation());

    // A restart saves the icon of that moment; a period ends the animation by itself.
    EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    ASSERT_TRUE(tray.StartAnimation(20, 1));
    ASSERT_TRUE(tray.StartAnimation(20, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!tray.IsAnimating(), 10000);
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDI_NOCERT).cacheKey());

    // An emptied list refuses the next start.
    EXPECT_TRUE(tray.SetAnimationIcons({}));
    EXPECT_FALSE(tray.StartAnimation(10, 0));
}

TEST_F(TrayTest, BalloonsAndTooltipAreCutToTheirFields) {
    CSystemTray tray;
    CreateShown(tray);
    ASSERT_TRUE(tray.BalloonsSupported());

    const QString text(300, QLatin1Char('x'));
    const QString title(100, QLatin1Char('t'));
    EXPECT_TRUE(tray.ShowBalloonTip(text, title, NIIF_INFO, 10));
    EXPECT_EQ(tray.LastBalloon().text, QString(255, QLatin1Char('x')));
    EXPECT_EQ(tray.LastBalloon().title, QString(63, QLatin1Char('t')));
    EXPECT_EQ(tray.LastBalloon().timeoutMs, 10000u);
    const std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "balloon\tinformation\t" + std::string(63, 't') + "\t" + std::string(255, 'x'));

    // Exactly 255 stays whole; a cut never leaves half of a character pair behind.
    const QString exact(255, QLatin1Char('y'));
    EXPECT_TRUE(tray.ShowBalloonTip(exact));
    EXPECT_EQ(tray.LastBalloon().text, exact);
    const QString pair = QString(254, QLatin1Char('z')) + QString::fromUtf8("\xF0\x9F\x94\x92") +
                         QStringLiteral("tail");
    EXPECT_TRUE(tray.ShowBalloonTip(pair));
    EXPECT_EQ(tray.LastBalloon().text, QString(254, QLatin1Char('z')));
    EXPECT_EQ(tray.LastBalloon().icon, NIIF_NONE);

    EXPECT_TRUE(tray.SetTooltipText(QString(200, QLatin1Char('q'))));
    EXPECT_EQ(tray.GetTooltipText().size(), 127);
    EXPECT_EQ(tray.TrayIcon().toolTip().size(), 127);

    EXPECT_TRUE(tray.DismissBalloonTip());
    // Out of the tray nothing can be shown, though the request is on record.
    tray.RemoveIcon();
    EXPECT_FALSE(tray.ShowBalloonTip("late"));
    EXPECT_FALSE(tray.DismissBalloonTip());
}

TEST_F(TrayTest, DoubleClickPostsTheDefaultCommandAndThePopupIsPreparedEachTime) {
    CSystemTray tray;
    CreateShown(tray);
    QSignalSpy commands(&tray, &CSystemTray::Command);

    ASSERT_NE(tray.Menu(), nullptr);
    ASSERT_TRUE(tray.SetDefaultMenuItem(1, true));
    EXPECT_EQ(tray.Menu()->defaultAction(), tray.Menu()->actions().value(1));
    // The click itself, as the desktop reports it.
    emit tray.TrayIcon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(commands.count(), 0) << "posted, not sent";
    QTRY_COMPARE(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).toInt(), ID_APP_SHOWCERTS);

    // By command id instead of position.
    ASSERT_TRUE(tray.SetDefaultMenuItem(ID_APP_EXIT, false));
    EXPECT_EQ(tray.HandleTrayMessage(QSystemTrayIcon::DoubleClick), 1);
    QTRY_COMPARE(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).toInt(), ID_APP_EXIT);
    EXPECT_EQ(tray.Menu()->defaultAction()->data().toInt(), ID_APP_EXIT);

    // The separator and positions past the end have no command.
    for (const uint32_t position : {5u, 7u, 1000u}) {
        ASSERT_TRUE(tray.SetDefaultMenuItem(position, true));
        EXPECT_EQ(tray.HandleTrayMessage(QSystemTrayIcon::DoubleClick), 0) << position;
        EXPECT_EQ(tray.Menu()->defaultAction(), nullptr);
    }
    QTest::qWait(20);
    EXPECT_EQ(commands.count(), 0);

    // A chosen menu entry goes out as its command.
    tray.Menu()->actions().value(0)->trigger();
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).toInt(), ID_APP_UPDATE);

    // The popup is prepared each time it opens.
    tray.SetDefaultMenuItem(1, true);
    int opened = 0;
    QObject::connect(&tray, &CSystemTray::InitMenuPopup, [&opened](QMenu* popup) {
        ++opened;
        popup->actions().value(0)->setText(QStringLiteral("Update #%1").arg(opened));
    });
    // The menu's default entry, reset behind the tray's back, is set again when it opens.
    tray.Menu()->setDefaultAction(nullptr);
    for (int round = 1; round <= 2; ++round) {
        tray.Menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(tray.Menu()->isVisible());
        EXPECT_EQ(opened, round);
        EXPECT_EQ(tray.Menu()->actions().value(0)->text(), QStringLiteral("Update #%1").arg(round));
        EXPECT_EQ(tray.Menu()->defaultAction(), tray.Menu()->actions().value(1));
        tray.Menu()->hide();
        QTRY_VERIFY(!tray.Menu()->isVisible());
        tray.Menu()->setDefaultAction(nullptr);
    }

    // A tray without menu resource: no popup and no default command.
    CSystemTray bare;
    CreateShown(bare, 131);
    EXPECT_EQ(bare.Menu(), nullptr);
    EXPECT_FALSE(bare.SetDefaultMenuItem(2, true));
    EXPECT_EQ(bare.HandleTrayMessage(QSystemTrayIcon::DoubleClick), 0);
    EXPECT_EQ(bare.HandleTrayMessage(QSystemTrayIcon::Context), 0);

    // Nobody to take the command.
    CSystemTray alone;
    CreateShown(alone);
    EXPECT_EQ(alone.HandleTrayMessage(QSystemTrayIcon::DoubleClick), 0);
}

TEST_F(TrayTest, IconChangesAreRecordedAndThoseOfTheMonitorThreadArriveInOrder) {
    CSystemTray tray;
    CreateShown(tray);
    EXPECT_FALSE(tray.ChangeIcon(999u));
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDR_MAINFRAME).cacheKey());
    EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    EXPECT_TRUE(tray.ChangeIcon(IDI_NOCERT));
    EXPECT_TRUE(tray.ChangeIcon(IDR_MAINFRAME));
    // One line per change of the resting icon, none for repeats.
    EXPECT_EQ(velktest::RecordLines(m_log, "icon\t"),
              (std::vector<std::string>{"icon\t314", "icon\t128"}));

    // Before creation the tray refuses everything.
    CSystemTray fresh;
    EXPECT_FALSE(fresh.ChangeIcon(IDR_MAINFRAME));
    EXPECT_FALSE(fresh.SetTooltipText("tip"));
    EXPECT_FALSE(fresh.ShowBalloonTip("text"));

    // The monitor thread's calls.
    ASSERT_TRUE(tray.SetAnimationIcons(AnimationFrames()));
    CTrayIconSink sink(tray);

    // Nothing happens on the calling thread: the tray changes only when its thread runs.
    std::thread([&sink] {
        EXPECT_TRUE(sink.ChangeIcon(IDI_NOCERT));
        EXPECT_TRUE(sink.StartAnimation(10, 0xFFFFFFFF));
    }).join();
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDR_MAINFRAME).cacheKey());
    QCoreApplication::processEvents();
    EXPECT_TRUE(tray.IsAnimating());

    // Stop, then the resting icon: in that order, so the resting icon stays.
    std::thread([&sink] {
        sink.StopIconAnimation();
        sink.ChangeIcon(IDR_MAINFRAME);
    }).join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDR_MAINFRAME).cacheKey());
    // An unknown resource is dropped on the tray's side.
    std::thread([&sink] { EXPECT_TRUE(sink.ChangeIcon(4711)); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(tray.GetIcon().cacheKey(), LoadIconResource(IDR_MAINFRAME).cacheKey());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // A bus of its own: the StatusNotifier watcher of one test must not reach others' trays.
    const PrivateBus bus;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
