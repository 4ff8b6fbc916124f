#include "app/shell/DebugCommands.h"

#include "platform/qt/MdMessage.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <cstdlib>
#include <cstring>

namespace {

const char* const kDebugMember = "DebugCommand";

} // namespace

CDebugCommandReceiver::CDebugCommandReceiver(QObject* parent) : QObject(parent) {}

CDebugCommandReceiver::~CDebugCommandReceiver() {
    if (m_listening) {
        QDBusConnection::sessionBus().disconnect(
            QString(), QString::fromLatin1(mdmsg::kObjectPath),
            QString::fromLatin1(mdmsg::kInterface), QString::fromLatin1(kDebugMember),
            QStringLiteral("u"), this, SLOT(OnBusSignal(uint)));
    }
}

bool CDebugCommandReceiver::Wanted() {
    const char* value = std::getenv("VELKORA_DEBUG_COMMANDS");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool CDebugCommandReceiver::Listen() {
    if (!Wanted()) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    if (!m_listening) {
        m_listening =
            bus.connect(QString(), QString::fromLatin1(mdmsg::kObjectPath),
                        QString::fromLatin1(mdmsg::kInterface), QString::fromLatin1(kDebugMember),
                        QStringLiteral("u"), this, SLOT(OnBusSignal(uint)));
    }
    if (m_listening && bus.interface() != nullptr) {
        // Returns once the bus has installed the match rule sent before it.
        bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    }
    return m_listening;
}

void CDebugCommandReceiver::OnBusSignal(uint id) {
    emit Command(static_cast<int>(id));
}
