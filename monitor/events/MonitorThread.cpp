// The start sequence and the monitor thread with its one PC/SC context.

#include "monitor/CCert.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorClock.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/PcscContext.h"
#include "monitor/events/ReaderEventWait.h"
#include "monitor/events/StoreWatch.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using std::chrono::milliseconds;

// Before a poll that tries again (a busy card, an error).
constexpr milliseconds kPollPeriod{100};
constexpr milliseconds kStopCheck{10};
constexpr milliseconds kStartPause{2000};
// While there is no resource manager: try again after 100 ms, doubling up
// to 5 s, so that an absent pcscd costs next to nothing.
constexpr milliseconds kFirstRetry{100};
constexpr milliseconds kLongestRetry{5000};
// Below normal, as a background watcher should be.
constexpr int kMonitorNice = 10;

// The one monitor thread of the process. Joined by StopMonitor, or at the
// end of the process if nobody stopped it.
class CMonitorThreadHolder {
public:
    ~CMonitorThreadHolder() { Stop(); }

    bool Start() {
        std::lock_guard lock(m_mutex);
        if (m_thread.joinable()) {
            return false;
        }
        g_StopMonitor = 0;
        // Running from here on, so that a stop request right after the start
        // still waits for the thread.
        g_MonitorRunning = 1;
        m_thread = std::thread([] { CCardOSEvents::MonitorThread(); });
        return true;
    }

    void Stop() {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            return;
        }
        g_StopMonitor = 1;
        // A wake that comes just before the thread enters its wait is lost
        // to PC/SC: wake it again until it has left its loop.
        while (g_MonitorRunning != 0) {
            WakeReaderWait();
            std::this_thread::sleep_for(kStopCheck);
        }
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::thread m_thread;
};

CMonitorThreadHolder& Holder() {
    // The thread uses the monitor lock until it is joined: make the lock
    // first, so that it is destroyed after the holder at the process's end.
    MonitorMutex();
    static CMonitorThreadHolder holder;
    return holder;
}

milliseconds NextRetry(milliseconds retry) {
    return std::min(retry * 2, kLongestRetry);
}

// While the last poll left nothing to try again, wait for PC/SC to report
// a change (or Update, the stop, the store); otherwise poll again after
// 100 ms, as before every poll.
void PauseBeforePoll(SCARDCONTEXT context) {
    bool settled = false;
    {
        std::lock_guard lock(MonitorMutex());
        settled = g_PollSettled && g_RescanRequested == 0;
    }
    if (!settled) {
        MonitorClock().Sleep(kPollPeriod);
        return;
    }
    try {
        WaitForReaderEvent(context); // whatever ended it, the poll looks
    } catch (...) {
        MonitorClock().Sleep(kPollPeriod); // no heap for the wait's records
    }
}

} // namespace

void CCardOSEvents::PrepareMonitor() {
    DWORD count = 0;
    {
        CCert cert;
        cert.RemoveAllPropagated(); // what an earlier run left behind
        count = cert.ReaderCount();
    }
    {
        std::lock_guard lock(MonitorMutex());
        g_ReaderCount = static_cast<uint32_t>(count);
    }
    InitialScan();
}

void CCardOSEvents::StartMonitor() {
    PrepareMonitor();
    MonitorClock().Sleep(kStartPause);
    StartMonitorThread();
}

bool CCardOSEvents::StartMonitorThread() {
    return Holder().Start();
}

void CCardOSEvents::StopMonitor() {
    Holder().Stop();
}

unsigned CCardOSEvents::MonitorThread() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kMonitorNice);
    CPcscContext context;
    const CStoreWatch storeWatch;
    milliseconds retry = kFirstRetry;
    while (g_StopMonitor == 0) {
        g_MonitorRunning = 1;
        if (!context.Valid() && context.Establish() != SCARD_S_SUCCESS) {
            MonitorClock().Sleep(retry);
            retry = NextRetry(retry);
            continue;
        }
        PauseBeforePoll(context.Get());
        if (g_StopMonitor != 0) {
            break;
        }
        const LONG rv = PollReaders(context.Get());
        if (IsContextLost(rv)) {
            // pcscd went away or restarted: this context stays dead even
            // when a new daemon answers, so give it up and wait a little.
            context.Release();
            MonitorClock().Sleep(retry);
            retry = NextRetry(retry);
        } else {
            retry = kFirstRetry;
        }
    }
    context.Release();
    g_MonitorRunning = 0;
    return 0;
}
