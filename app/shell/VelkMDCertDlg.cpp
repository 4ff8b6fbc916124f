#include "app/shell/VelkMDCertDlg.h"

#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "app/shell/Restart.h"
#include "app/shell/TrayActivation.h"
#include "app/shell/TrayCommands.h"
#include "desktop/PinWatcherFlags.h"
#include "desktop/PinWinFake.h"
#include "dialogs/about/AboutDlg.h"
#include "dialogs/certs/ShowCertificates.h"
#include "dialogs/config/DlgConfig.h"
#include "monitor/CCert.h"
#include "monitor/CertCollection.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "platform/qt/MdMessage.h"
#include "platform/qt/UiLog.h"
#include "platform/system/SysInfo.h"
#include "res/MenuResource.h"
#include "res/Resource.h"
#include "res/ResourceIcon.h"

#include <QAction>
#include <QCloseEvent>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The pause between the initial scan and the first poll of the monitor thread.
constexpr int kMonitorStartPauseMs = 2000;
constexpr uint32_t kAnimationFrameMs = 80;
constexpr uint32_t kAnimationUntilStopped = 0xFFFFFFFFu;
constexpr uint32_t kBalloonSeconds = 10;

} // namespace

CVelkMDCertDlg::CVelkMDCertDlg(QWidget* parent) : QWidget(parent) {
    connect(&m_mdReceiver, &CMdMessageReceiver::MdMessage, this,
            [this](quint32 wParam, qint64 lParam) { OnMdMessage(wParam, lParam); });
    connect(&m_debugCommands, &CDebugCommandReceiver::Command, this, &CVelkMDCertDlg::OnCommand);
    m_monitorStart.setSingleShot(true);
    m_monitorStart.setInterval(kMonitorStartPauseMs);
    connect(&m_monitorStart, &QTimer::timeout, this, &CVelkMDCertDlg::StartMonitorThread);
    // Requests sent while the window is being created (the minidriver's balloons from the
    // initial scan, a concurrent "stop") wait in the event queue until the loop runs, as
    // they would in a window's message queue.
    m_listening = m_mdReceiver.Listen();
    m_debugCommands.Listen();
}

CVelkMDCertDlg::~CVelkMDCertDlg() {
    // After a restart the window closes without Exit: the monitor still has to end before the
    // tray it reports to, and the registrations stay for the next instance to clear.
    m_monitorStart.stop();
    g_Tray.Set(nullptr);
    StopWorkers();
}

bool CVelkMDCertDlg::Create() {
    if (OnCreate() != 0) {
        return false;
    }
    if (!m_listening) {
        std::fprintf(stderr, "velkora-certmgr: no session bus; requests of the minidriver and "
                             "\"velkora-certmgr stop\" will not reach this instance\n");
    }
    return true;
}

int CVelkMDCertDlg::OnCreate() {
    m_mainIcon = LoadIconResource(IDR_MAINFRAME);
    setWindowIcon(m_mainIcon);
    setWindowTitle(QString::fromUtf8(CMsg::Get(IDS_APP_TITLE)));

    if (!CreateTrayIcon()) {
        return -1;
    }
    m_hidden = true;

    // Whatever an earlier run left registered goes first; the reader count is kept for the
    // initial scan.
    DWORD readerCount = 0;
    {
        CCert cert;
        cert.RemoveAllPropagated();
        readerCount = cert.ReaderCount();
    }

    // The system's own PIN dialog only exists before version 6; there the watcher answers it.
    StartPinWatcher(g_Config.GetPinWatcherThread());

    setVisible(false);
    m_tray.ChangeIcon(IDI_NOCERT);

    {
        const std::lock_guard lock(MonitorMutex());
        g_ReaderCount = static_cast<uint32_t>(readerCount);
    }
    CCardOSEvents::InitialScan();

    // The pause before the first poll must not hold up the event loop: balloons, requests and
    // the tray answer during it.
    m_monitorStart.start();
    return 0;
}

bool CVelkMDCertDlg::CreateTrayIcon() {
    if (m_mainIcon.isNull()) {
        return false;
    }
    const QString title = QString::fromUtf8(CMsg::Get(IDS_APP_TITLE));
    const bool added =
        m_tray.CreateTrayIcon(nullptr, kTrayCallbackMessage, title, m_mainIcon, IDR_TRAYMENU, false,
                              title, QString(), NIIF_WARNING, kBalloonSeconds);
    // Without a tray host (a bare X server, the offscreen platform) the icon waits for one and
    // the program runs on: propagation does not need the icon.
    if (!added && !m_tray.IsAddPending()) {
        return false;
    }
    hide();
    m_tray.SetDefaultMenuItem(kDefaultMenuPosition, true);
    std::vector<QIcon> frames;
    for (unsigned id = IDI_ANIM_FIRST; id <= IDI_ANIM_LAST; ++id) {
        frames.push_back(LoadIconResource(id));
    }
    m_tray.SetAnimationIcons(frames);
    connect(&m_tray, &CSystemTray::Command, this, &CVelkMDCertDlg::OnCommand);
    // StatusNotifier trays report one activation and never a double click.
    connect(&m_tray.TrayIcon(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (const int command = DefaultCommandOnActivation(reason, m_tray.Menu());
                    command > 0) {
                    QMetaObject::invokeMethod(
                        this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
                }
            });
    connect(&m_tray, &CSystemTray::InitMenuPopup, this, &CVelkMDCertDlg::OnInitMenuPopup);
    g_Tray.Set(&m_traySink);
    return true;
}

void CVelkMDCertDlg::StartMonitorThread() {
    if (m_monitorStarted) {
        return;
    }
    m_monitorStarted = CCardOSEvents::StartMonitorThread();
    uilog::Append("event", {"monitor", std::to_string(m_monitorStarted ? 1 : 0)});
}

void CVelkMDCertDlg::setVisible(bool visible) {
    QWidget::setVisible(visible && !m_hidden);
}

void CVelkMDCertDlg::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && m_hidden) {
        hide();
    }
}

void CVelkMDCertDlg::closeEvent(QCloseEvent* event) {
    m_tray.RemoveIcon();
    QWidget::closeEvent(event);
    emit Closed();
}

void CVelkMDCertDlg::OnInitMenuPopup(QMenu* popup) {
    if (popup == nullptr) {
        return;
    }
    // The language may have changed since the menu was last open.
    const auto items = LoadMenuResource(IDR_TRAYMENU);
    const auto actions = popup->actions();
    for (QAction* action : actions) {
        for (const MenuItemResource& item : items) {
            if (item.command != 0 && action->data().toInt() == item.command) {
                action->setText(QString::fromUtf8(CMsg::Get(item.textId)));
            }
        }
    }
}

void CVelkMDCertDlg::OnCommand(int id) {
    uilog::Append("command", {std::to_string(id)});
    switch (id) {
    case ID_APP_UPDATE:
        CCardOSEvents::RequestRescan();
        break;
    case ID_APP_RESTART:
        Restart();
        break;
    case ID_APP_EXIT:
        Exit();
        break;
    case ID_APP_SHOWCERTS:
        // A personalization launched a restarted instance: this one makes way for it.
        if (ShowCertificatesDialog()) {
            {
                CCert cert;
                cert.RemoveAllPropagated();
            }
            Exit();
        }
        break;
    case ID_APP_CONFIG:
        RunConfigDialog();
        break;
    case ID_APP_ABOUT:
        RunAboutDialog();
        break;
    default:
        break;
    }
}

void CVelkMDCertDlg::RunConfigDialog() {
    // What the minidriver or another instance changed since is what the dialog shows.
    g_Config.LoadMachine();
    g_Config.LoadUser();
    g_Config.SetLanguage(g_Config.GetLanguage());
    CDlgConfig dialog;
    dialog.exec();
}

void CVelkMDCertDlg::RunAboutDialog() {
    CAboutDlg dialog;
    dialog.exec();
}

void CVelkMDCertDlg::Restart() {
    if (LaunchRestart()) {
        close();
    }
}

bool CVelkMDCertDlg::RescanPending() const {
    return g_RescanPending != 0;
}

void CVelkMDCertDlg::StopWorkers() {
    m_monitorStart.stop();
    g_StopPinWatcher = 1;
    CCardOSEvents::StopMonitor();
    StopPinWatcher();
    while (g_PinWatcherRunning != 0 || g_MonitorRunning != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_monitorStarted = false;
}

void CVelkMDCertDlg::Exit() {
    StopWorkers();
    CloseCertificatesDialog();
    // No certificate of a card stays registered once the program has ended.
    {
        CCert cert;
        cert.RemoveAllPropagated();
    }
    close();
}

void CVelkMDCertDlg::ShowBalloonTip(const char* text) {
    m_tray.ShowBalloonTip(QString::fromUtf8(text), QString(), NIIF_NONE, kBalloonSeconds);
}

int CVelkMDCertDlg::OnMdMessage(quint32 wParam, qint64 lParam) {
    switch (wParam) {
    case mdmsg::kShowBalloon:
        if (!RescanPending() && g_Config.GetShowBalloonInfo()) {
            // An id that does not fit the catalogue's ids is as unknown as any other.
            const unsigned id = lParam >= 0 && lParam <= INT64_C(0xFFFFFFFE)
                                    ? static_cast<unsigned>(lParam)
                                    : 0xFFFFFFFFu;
            ShowBalloonTip(CMsg::Get(id));
        }
        return 1;
    case mdmsg::kStartAnimation:
        if (!RescanPending()) {
            m_tray.StartAnimation(kAnimationFrameMs, kAnimationUntilStopped);
        }
        return 1;
    case mdmsg::kStopAnimation:
        if (!RescanPending()) {
            m_tray.StopIconAnimation();
            m_tray.DismissBalloonTip();
            m_tray.ChangeIcon(g_CertCollection.HasEntries() ? IDR_MAINFRAME : IDI_NOCERT);
        }
        return 1;
    case mdmsg::kRestart:
        if (LaunchRestart()) {
            close();
            return 1;
        }
        return 0;
    case mdmsg::kExit:
        Exit();
        return 1;
    default:
        return 1;
    }
}
