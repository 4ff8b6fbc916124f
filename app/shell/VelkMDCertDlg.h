#pragma once

#include "platform/qt/MdMessageReceiver.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include <string>

// The program's only top-level window. It is never shown: it owns the tray icon and its menu,
// carries out the menu's commands and answers the "UWM_MD_MESSAGE" requests.
class CVelkMDCertDlg : public QWidget {
    Q_OBJECT
public:
    explicit CVelkMDCertDlg(QWidget* parent = nullptr);
    ~CVelkMDCertDlg() override;

    // Icon, tray icon and menu, request subscription; false when the tray icon cannot be made.
    bool Create();

    // One request; wParam outside 0x2001..0x2005 is ignored. 0 when a restart could not start.
    int OnMdMessage(quint32 wParam, qint64 lParam);
    void OnCommand(int id);

    // Leaves the program in order (menu "Quit" and request 0x2005).
    void Exit();

    QMenu* TrayMenu() { return &m_menu; }
    QSystemTrayIcon* TrayIcon() { return &m_tray; }
    bool IsListening() const { return m_listening; }
    const std::string& LastBalloonText() const { return m_lastBalloon; }

    void setVisible(bool visible) override;

signals:
    void Closed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool CreateTrayIcon();
    void OnInitMenuPopup();
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void ShowBalloonTip(const char* text, const char* title, int iconKind, int timeoutSeconds);
    void Restart();
    // An Update rescan of the reader monitor is waiting; requests that touch the tray wait too.
    bool RescanPending() const { return false; }

    QIcon m_mainIcon;
    bool m_hidden = false;
    bool m_listening = false;
    QMenu m_menu;
    QSystemTrayIcon m_tray;
    CMdMessageReceiver m_mdReceiver;
    std::string m_lastBalloon;
};
