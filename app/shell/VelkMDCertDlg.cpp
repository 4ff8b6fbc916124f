#include "app/shell/VelkMDCertDlg.h"

#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "app/shell/Restart.h"
#include "app/shell/TrayCommands.h"
#include "platform/qt/MdMessage.h"
#include "platform/qt/UiLog.h"

#include <QAction>
#include <QCloseEvent>
#include <QPainter>
#include <QPixmap>

#include <cstdint>
#include <cstdio>

namespace {

// A plain stand-in for icon 128 until the program's icon resources exist.
QIcon PlainMainIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 6, 28, 20), 3, 3);
    painter.setBrush(QColor(0xe8, 0xc1, 0x4a));
    painter.drawRect(QRectF(7, 12, 8, 7));
    return QIcon(pixmap);
}

// The balloon icon kinds of the tray: 0 none, 1 information, 2 warning, 3 error.
QSystemTrayIcon::MessageIcon BalloonIcon(int kind) {
    switch (kind) {
    case 1:
        return QSystemTrayIcon::Information;
    case 2:
        return QSystemTrayIcon::Warning;
    case 3:
        return QSystemTrayIcon::Critical;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

const char* BalloonIconName(int kind) {
    static const char* const names[] = {"none", "information", "warning", "error"};
    return kind >= 0 && kind <= 3 ? names[kind] : names[0];
}

} // namespace

CVelkMDCertDlg::CVelkMDCertDlg(QWidget* parent) : QWidget(parent) {
    connect(&m_mdReceiver, &CMdMessageReceiver::MdMessage, this,
            [this](quint32 wParam, qint64 lParam) { OnMdMessage(wParam, lParam); });
}

CVelkMDCertDlg::~CVelkMDCertDlg() {
    m_tray.hide();
}

bool CVelkMDCertDlg::Create() {
    m_mainIcon = PlainMainIcon();
    setWindowIcon(m_mainIcon);
    setWindowTitle(QString::fromUtf8(CMsg::Get(IDS_APP_TITLE)));
    if (!CreateTrayIcon()) {
        return false;
    }
    hide();
    m_hidden = true;
    setVisible(false);

    m_listening = m_mdReceiver.Listen();
    if (!m_listening) {
        std::fprintf(stderr, "velkora-certmgr: no session bus; requests of the minidriver and "
                             "\"velkora-certmgr stop\" will not reach this instance\n");
    }
    return true;
}

bool CVelkMDCertDlg::CreateTrayIcon() {
    if (m_mainIcon.isNull()) {
        return false;
    }
    for (const TrayCommand& command : kTrayMenu) {
        if (command.id == 0) {
            m_menu.addSeparator();
            continue;
        }
        QAction* action = m_menu.addAction(QString::fromUtf8(CMsg::Get(command.text)));
        action->setData(command.id);
    }
    m_menu.setDefaultAction(m_menu.actions().value(kDefaultMenuPosition));
    connect(&m_menu, &QMenu::aboutToShow, this, &CVelkMDCertDlg::OnInitMenuPopup);
    connect(&m_menu, &QMenu::triggered, this,
            [this](QAction* action) { OnCommand(action->data().toInt()); });
    connect(&m_tray, &QSystemTrayIcon::activated, this, &CVelkMDCertDlg::OnTrayActivated);

    m_tray.setIcon(m_mainIcon);
    m_tray.setToolTip(QString::fromUtf8(CMsg::Get(IDS_APP_TITLE)));
    m_tray.setContextMenu(&m_menu);
    // Without a tray host (a bare X server, the offscreen platform) the icon stays pending and
    // appears once a host comes up; the program runs on either way.
    m_tray.show();
    ShowBalloonTip(CMsg::Get(IDS_APP_TITLE), "", 2, 10);
    return true;
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
    m_tray.hide();
    QWidget::closeEvent(event);
    emit Closed();
}

void CVelkMDCertDlg::OnInitMenuPopup() {
    // The language may have changed since the menu was last open.
    const auto actions = m_menu.actions();
    for (QAction* action : actions) {
        for (const TrayCommand& command : kTrayMenu) {
            if (command.id != 0 && action->data().toInt() == command.id) {
                action->setText(QString::fromUtf8(CMsg::Get(command.text)));
            }
        }
    }
}

void CVelkMDCertDlg::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::DoubleClick) {
        return;
    }
    if (const QAction* action = m_menu.actions().value(kDefaultMenuPosition)) {
        OnCommand(action->data().toInt());
    }
}

void CVelkMDCertDlg::OnCommand(int id) {
    switch (id) {
    case ID_APP_RESTART:
        Restart();
        break;
    case ID_APP_EXIT:
        Exit();
        break;
    case ID_APP_UPDATE:
    case ID_APP_SHOWCERTS:
    case ID_APP_CONFIG:
    case ID_APP_ABOUT:
    default:
        // The reader monitor and the dialogs attach here.
        break;
    }
}

void CVelkMDCertDlg::Restart() {
    if (LaunchRestart()) {
        close();
    }
}

void CVelkMDCertDlg::Exit() {
    // Worker threads are stopped and the card registrations removed here once they exist.
    close();
}

void CVelkMDCertDlg::ShowBalloonTip(const char* text, const char* title, int iconKind,
                                    int timeoutSeconds) {
    m_lastBalloon = text;
    uilog::Append("balloon", {BalloonIconName(iconKind), title, text});
    m_tray.showMessage(QString::fromUtf8(title), QString::fromUtf8(text), BalloonIcon(iconKind),
                       timeoutSeconds * 1000);
}

int CVelkMDCertDlg::OnMdMessage(quint32 wParam, qint64 lParam) {
    switch (wParam) {
    case mdmsg::kShowBalloon:
        if (!RescanPending() && g_Config.GetShowBalloonInfo()) {
            // An id that does not fit the catalogue's ids is as unknown as any other.
            const unsigned id = lParam >= 0 && lParam <= INT64_C(0xFFFFFFFE)
                                    ? static_cast<unsigned>(lParam)
                                    : 0xFFFFFFFFu;
            ShowBalloonTip(CMsg::Get(id), "", 0, 10);
        }
        return 1;
    case mdmsg::kStartAnimation:
    case mdmsg::kStopAnimation:
        // The tray animation comes with the animated icons.
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
