#pragma once

#include "app/shell/DebugCommands.h"
#include "desktop/SystemTray.h"
#include "desktop/TrayIconSink.h"
#include "platform/qt/MdMessageReceiver.h"

#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <string>

// The program's only top-level window. It is never shown: it owns the tray icon, starts the
// reader monitor, carries out the tray menu's commands and answers the "UWM_MD_MESSAGE"
// requests of the minidriver and of a second start.
class CVelkMDCertDlg : public QWidget {
    Q_OBJECT
public:
    explicit CVelkMDCertDlg(QWidget* parent = nullptr);
    ~CVelkMDCertDlg() override;

    // The window's creation (OnCreate); false when the tray icon cannot be made. The monitor
    // thread starts 2 seconds later from the event loop.
    bool Create();

    // One request; wParam outside 0x2001..0x2005 is ignored. 0 when a restart could not start.
    int OnMdMessage(quint32 wParam, qint64 lParam);
    // One tray menu command.
    void OnCommand(int id);

    // Leaves the program in order (menu "Quit" and request 0x2005): the workers stopped, every
    // registration removed, the window closed.
    void Exit();

    CSystemTray& Tray() { return m_tray; }
    QMenu* TrayMenu() { return m_tray.Menu(); }
    QSystemTrayIcon* TrayIcon() { return &m_tray.TrayIcon(); }
    bool IsListening() const { return m_listening; }
    std::string LastBalloonText() const { return m_tray.LastBalloon().text.toStdString(); }
    bool MonitorStarted() const { return m_monitorStarted; }

    void setVisible(bool visible) override;

signals:
    void Closed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    int OnCreate();
    bool CreateTrayIcon();
    void StartMonitorThread();
    void StopWorkers();
    void OnInitMenuPopup(QMenu* popup);
    void ShowBalloonTip(const char* text);
    void Restart();
    void RunConfigDialog();
    void RunAboutDialog();
    bool RescanPending() const;

    QIcon m_mainIcon;
    bool m_hidden = false;
    bool m_listening = false;
    bool m_monitorStarted = false;
    CSystemTray m_tray;
    CTrayIconSink m_traySink{m_tray};
    QTimer m_monitorStart;
    CMdMessageReceiver m_mdReceiver;
    CDebugCommandReceiver m_debugCommands;
};
