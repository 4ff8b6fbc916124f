#include "app/shell/ExitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// The write end of the pipe, for the handler: a handler may touch nothing else.
std::atomic<int> g_exitSignalPipe{-1};

void OnExitSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_exitSignalPipe.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a request; nothing is lost by dropping this one.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

} // namespace

CExitSignals::CExitSignals(QObject* parent) : QObject(parent) {}

CExitSignals::~CExitSignals() {
    Uninstall();
}

bool CExitSignals::Install() {
    if (m_installed || g_exitSignalPipe.load() >= 0) {
        return m_installed;
    }
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    m_read = fds[0];
    m_write = fds[1];
    g_exitSignalPipe.store(m_write);
    m_notifier = std::make_unique<QSocketNotifier>(m_read, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CExitSignals::OnReadable);

    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (sigaction(kSignals[i], &action, &m_previous[i]) != 0) {
            Uninstall();
            return false;
        }
    }
    return true;
}

void CExitSignals::Uninstall() {
    if (m_installed) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &m_previous[i], nullptr);
        }
        m_installed = false;
    }
    m_notifier.reset();
    if (m_write >= 0) {
        g_exitSignalPipe.store(-1);
        ::close(m_write);
        m_write = -1;
    }
    if (m_read >= 0) {
        ::close(m_read);
        m_read = -1;
    }
}

void CExitSignals::OnReadable() {
    unsigned char number = 0;
    int last = 0;
    while (::read(m_read, &number, 1) == 1) {
        last = number;
    }
    if (last != 0) {
        emit ExitRequested(last);
    }
}
