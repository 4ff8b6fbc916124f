#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <memory>

// SIGTERM, SIGINT and SIGHUP (shutdown, logout, `kill`, Ctrl+C in a terminal) as a request to
// leave in order, like Quit: left to their default, they would end the process with the card's
// certificates still registered. The handler only writes the signal's number into a pipe; the
// request comes out of the event loop of the thread that installed it. One per process.
class CExitSignals : public QObject {
    Q_OBJECT
public:
    explicit CExitSignals(QObject* parent = nullptr);
    // Gives the signals their previous handlers back.
    ~CExitSignals() override;
    CExitSignals(const CExitSignals&) = delete;
    CExitSignals& operator=(const CExitSignals&) = delete;

    // False when the pipe or a handler could not be set up (the signals keep their default).
    bool Install();

signals:
    void ExitRequested(int signal);

private:
    void OnReadable();
    void Uninstall();

    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    int m_read = -1;
    int m_write = -1;
    bool m_installed = false;
    struct sigaction m_previous[std::size(kSignals)]{};
    std::unique_ptr<QSocketNotifier> m_notifier;
};
