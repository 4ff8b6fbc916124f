#pragma once

// A monitor clock that a test turns by hand: each sleep of the monitor
// thread waits until the test lets it go, and Step returns once the thread
// has gone round its loop and sleeps again. The durations asked for are kept,
// so the back-off can be checked without waiting for it. A wait for reader
// events is a turn as well (ending as if woken), unless the test
// lets the thread wait on PC/SC itself.

#include "monitor/events/MonitorClock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace evtest {

class CStepClock final : public IMonitorClock {
public:
    void Sleep(std::chrono::milliseconds duration) override;
    LONG WaitForReaders(SCARDCONTEXT context, SCARD_READERSTATE* records, DWORD count,
                        std::chrono::milliseconds timeout) override;
    // From now on the waits for reader events go to PC/SC.
    void UseRealWaits() { m_realWaits = true; }

    // Lets `turns` sleeps end, each time waiting until the thread sleeps
    // again; false when the thread did not come back to a sleep in time.
    bool Step(int turns = 1);
    // Steps until `done` holds (checked before each step); false if it
    // did not within `turns` steps.
    template <typename Done> bool StepUntil(Done done, int turns = 200) {
        for (int i = 0; i < turns; ++i) {
            if (done()) {
                return true;
            }
            if (!Step()) {
                return false;
            }
        }
        return done();
    }
    // From now on every sleep returns at once (to let a stopping thread end).
    void Free();
    std::vector<std::chrono::milliseconds> Slept() const;

private:
    void Park();
    bool WaitParked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_entered = 0;
    uint64_t m_released = 0;
    bool m_free = false;
    std::atomic<bool> m_realWaits{false};
    std::vector<std::chrono::milliseconds> m_slept;
};

} // namespace evtest
