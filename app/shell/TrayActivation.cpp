#include "app/shell/TrayActivation.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>

namespace {

constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

} // namespace

bool StatusNotifierTray() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService))) {
        return false;
    }
    // Qt shows its icon as a StatusNotifier item only when a host has registered.
    QDBusInterface watcher(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                           QString::fromLatin1(kWatcherService), bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

int DefaultCommandOnActivation(QSystemTrayIcon::ActivationReason reason, const QMenu* menu) {
    if (reason != QSystemTrayIcon::Trigger || menu == nullptr || !StatusNotifierTray()) {
        return 0;
    }
    const QAction* action = menu->defaultAction();
    return action != nullptr && !action->isSeparator() ? action->data().toInt() : 0;
}
