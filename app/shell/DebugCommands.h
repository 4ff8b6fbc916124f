#pragma once

#include <QObject>

// A way for scripted runs and tests to give the running instance a tray-menu command without
// a tray host: with VELKORA_DEBUG_COMMANDS=1 in its environment the program listens on the
// session bus for the signal org.velkora.CertMgr.DebugCommand (one uint32, the command id):
//   dbus-send --session --type=signal /org/velkora/CertMgr
//             org.velkora.CertMgr.DebugCommand uint32:32775   (one command line)
// Without the variable nothing listens, so an ordinary session never acts on it.
class CDebugCommandReceiver : public QObject {
    Q_OBJECT
public:
    explicit CDebugCommandReceiver(QObject* parent = nullptr);
    ~CDebugCommandReceiver() override;

    static bool Wanted();
    // Subscribes when wanted; false when not wanted or there is no session bus.
    bool Listen();

signals:
    void Command(int id);

private slots:
    void OnBusSignal(uint id);

private:
    bool m_listening = false;
};
