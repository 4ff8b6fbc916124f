#include "platform/qt/MdMessageReceiver.h"

#include "platform/qt/MdMessage.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

CMdMessageReceiver::CMdMessageReceiver(QObject* parent) : QObject(parent) {}

CMdMessageReceiver::~CMdMessageReceiver() {
    if (m_listening) {
        QDBusConnection::sessionBus().disconnect(
            QString(), QString::fromLatin1(mdmsg::kObjectPath),
            QString::fromLatin1(mdmsg::kInterface), QString::fromLatin1(mdmsg::kMember),
            QStringLiteral("ux"), this, SLOT(OnBusSignal(uint, qlonglong)));
    }
}

bool CMdMessageReceiver::Listen() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (!m_listening) {
        // Any sender: the minidriver and a second start of the program use their own connections.
        m_listening =
            bus.connect(QString(), QString::fromLatin1(mdmsg::kObjectPath),
                        QString::fromLatin1(mdmsg::kInterface), QString::fromLatin1(mdmsg::kMember),
                        QStringLiteral("ux"), this, SLOT(OnBusSignal(uint, qlonglong)));
    }
    if (m_listening && bus.interface() != nullptr) {
        // The match rule goes out without waiting for an answer; a blocking call behind it
        // returns only after the bus has installed it.
        bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    }
    return m_listening;
}

void CMdMessageReceiver::OnBusSignal(uint wParam, qlonglong lParam) {
    emit MdMessage(wParam, lParam);
}
