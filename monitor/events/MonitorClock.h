#pragma once

// The monitor's sleeps (the 100 ms between polls, the pause before the
// thread starts, the back-off while the resource manager is away) go through
// one replaceable clock, so that tests can run them at once or step them.

#include <chrono>

class IMonitorClock {
public:
    virtual ~IMonitorClock() = default;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The clock in use: the real one unless SetMonitorClock installed another.
IMonitorClock& MonitorClock();
// Installs `clock` (nullptr: the real one again). Set it before the monitor
// thread starts and keep it alive until the thread has ended.
void SetMonitorClock(IMonitorClock* clock);
