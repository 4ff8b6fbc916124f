#pragma once

#include <QProcess>
#include <QString>

#include <optional>
#include <string>

// A session bus of the test's own: the requests are broadcasts, so tests that run side by side
// must not share a bus. Sets DBUS_SESSION_BUS_ADDRESS of this process (and so of the programs
// it starts) while it lives.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool Ok() const { return !m_address.isEmpty(); }
    const QString& Address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
    std::optional<std::string> m_previous;
};
