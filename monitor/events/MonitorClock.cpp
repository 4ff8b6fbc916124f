#include "monitor/events/MonitorClock.h"

#include "monitor/events/MonitorState.h"

#include <algorithm>
#include <atomic>
#include <thread>

LONG IMonitorClock::WaitForReaders(SCARDCONTEXT context, SCARD_READERSTATE* records, DWORD count,
                                   std::chrono::milliseconds timeout) {
    return SCardGetStatusChange(context, static_cast<DWORD>(timeout.count()), records, count);
}

namespace {

// Sleeps in slices, so that a stop request ends even a long back-off within
// one slice: Exit waits for the thread in 100 ms steps.
class CRealClock final : public IMonitorClock {
public:
    void Sleep(std::chrono::milliseconds duration) override {
        constexpr std::chrono::milliseconds kSlice{100};
        while (duration.count() > 0) {
            const auto step = std::min(duration, kSlice);
            std::this_thread::sleep_for(step);
            duration -= step;
            if (g_StopMonitor != 0) {
                return;
            }
        }
    }
};

CRealClock g_RealClock;
std::atomic<IMonitorClock*> g_Clock{nullptr};

} // namespace

IMonitorClock& MonitorClock() {
    IMonitorClock* clock = g_Clock.load();
    return clock != nullptr ? *clock : g_RealClock;
}

void SetMonitorClock(IMonitorClock* clock) {
    g_Clock.store(clock);
}
