#include "PrivateBus.h"

#include <cstdlib>

PrivateBus::PrivateBus() {
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        m_previous = previous;
    }
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(10000)) {
        return;
    }
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (!m_address.isEmpty()) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8().constData(), 1);
    }
}

PrivateBus::~PrivateBus() {
    if (m_previous) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_previous->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
}
