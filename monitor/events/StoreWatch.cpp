#include "monitor/events/StoreWatch.h"

#include "monitor/events/ReaderEventWait.h"
#include "platform/registry/Registry.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

std::atomic<int> g_ActiveWatches{0};

// What SQLite does to a hive: writes in place, journals beside it.
constexpr uint32_t kEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO;

} // namespace

CStoreWatch::CStoreWatch() {
    const std::string hive = RegHivePath(HKEY_CURRENT_USER);
    const std::size_t slash = hive.find_last_of('/');
    if (slash == std::string::npos || slash + 1 >= hive.size()) {
        return;
    }
    m_file = hive.substr(slash + 1);
    const std::string dir = slash == 0 ? "/" : hive.substr(0, slash);
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_stop = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_inotify < 0 || m_stop < 0 || inotify_add_watch(m_inotify, dir.c_str(), kEvents) < 0) {
        return; // no watch: the wait's stamp check does the work
    }
    ++g_ActiveWatches;
    m_thread = std::thread([this] { Run(); });
}

CStoreWatch::~CStoreWatch() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!write(m_stop, &one, sizeof one);
        m_thread.join();
        --g_ActiveWatches;
    }
    for (const int fd : {m_inotify, m_stop}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool CStoreWatch::Active() {
    return g_ActiveWatches > 0;
}

void CStoreWatch::Run() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_stop, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            continue; // interrupted
        }
        if (fds[1].revents != 0) {
            return;
        }
        bool hiveChanged = false;
        for (;;) {
            const ssize_t got = read(m_inotify, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            // The kernel hands whole events only; each names a file of the folder.
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                const std::size_t nameSize = std::min<std::size_t>(
                    event.len, static_cast<std::size_t>(got - at) - sizeof event);
                const char* name = buffer + at + sizeof event;
                if (strnlen(name, nameSize) >= m_file.size() &&
                    std::strncmp(name, m_file.c_str(), m_file.size()) == 0) {
                    hiveChanged = true; // the hive or its journal
                }
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
        if (hiveChanged) {
            WakeReaderWait();
        }
    }
}
