#include "desktop/TrayIconSink.h"

#include "desktop/SystemTray.h"

#include <QMetaObject>

bool CTrayIconSink::StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) {
    CSystemTray* tray = m_tray;
    QMetaObject::invokeMethod(
        tray,
        [tray, msPerFrame, periodSeconds] { tray->StartAnimation(msPerFrame, periodSeconds); },
        Qt::QueuedConnection);
    return true;
}

bool CTrayIconSink::StopIconAnimation() {
    CSystemTray* tray = m_tray;
    QMetaObject::invokeMethod(
        tray, [tray] { tray->StopIconAnimation(); }, Qt::QueuedConnection);
    return true;
}

bool CTrayIconSink::ChangeIcon(uint32_t resourceId) {
    CSystemTray* tray = m_tray;
    QMetaObject::invokeMethod(
        tray, [tray, resourceId] { tray->ChangeIcon(resourceId); }, Qt::QueuedConnection);
    return true;
}
