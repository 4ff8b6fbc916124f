#pragma once

// The monitor's pauses (the 100 ms before a poll that retries, the pause
// before the thread starts, the back-off while the resource manager is away,
// and the wait for a reader event) go through one replaceable clock, so that
// tests can run them at once or step them.

#include <winscard.h>

#include <chrono>

class IMonitorClock {
public:
    virtual ~IMonitorClock() = default;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    // SCardGetStatusChange on `records` for at most `timeout`; its result.
    virtual LONG WaitForReaders(SCARDCONTEXT context, SCARD_READERSTATE* records, DWORD count,
                                std::chrono::milliseconds timeout);
};

// The clock in use: the real one unless SetMonitorClock installed another.
IMonitorClock& MonitorClock();
// Installs `clock` (nullptr: the real one again). Set it before the monitor
// thread starts and keep it alive until the thread has ended.
void SetMonitorClock(IMonitorClock* clock);
