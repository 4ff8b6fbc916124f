#pragma once

// What the event tests look at from outside the monitor: its calls to the
// tray and the certificates dialog, the registrations in the user's "MY"
// store, and the switch of the system's own propagation service. Shared by
// the in-process tests and those through a real pcscd.

#include "monitor/events/MonitorSinks.h"
#include "tests/events/StepClock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace evtest {

// The tray calls in order, as text: "animate 80 4294967295", "stop", "icon 128".
class CRecordingTray final : public ITrayIconSink {
public:
    bool StartAnimation(uint32_t msPerFrame, uint32_t periodSeconds) override;
    bool StopIconAnimation() override;
    bool ChangeIcon(uint32_t resourceId) override;

    // The calls since the last Take.
    std::vector<std::string> Take();
    // The icon shown last (0 before any ChangeIcon).
    uint32_t Icon() const;

private:
    void Record(std::string call);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    uint32_t m_icon = 0;
};

class CCountingList final : public ICertListView {
public:
    void FillList() override { ++m_fills; }
    int Fills() const { return m_fills; }

private:
    std::atomic<int> m_fills{0};
};

// The monitor's seams for one test: the recording tray and list and the
// step clock installed, the monitor's state reset before and after, and a
// thread still running stopped at the end. The minidriver stand-in reports
// to no session bus.
class CMonitorSeams {
public:
    CMonitorSeams();
    ~CMonitorSeams();
    CMonitorSeams(const CMonitorSeams&) = delete;
    CMonitorSeams& operator=(const CMonitorSeams&) = delete;

    // Stops a monitor thread running on the step clock.
    void StopThread();

    CRecordingTray tray;
    CCountingList list;
    CStepClock clock;
};

// True once `done` holds; false if it did not within a minute (a hung
// monitor, never a measure of speed).
template <typename Done> bool Eventually(Done done) {
    for (int i = 0; i < 6000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// Back to the state before any start: no snapshot, no readers counted, flags
// clear, no tray or dialog. The monitor thread must not be running.
void ResetMonitorState();

// The container paths of this system's registrations in "MY", sorted.
std::vector<std::string> Registrations();
// Those of them that belong to `reader` (the path names it).
std::size_t RegisteredIn(const std::string& reader);

// A copy in `dir` of a virtual card image of `profile`. Making a card's keys
// takes seconds, so each image (one per `tag`: cards in different readers
// must differ) is made once per build directory and then copied.
std::string CardImageCopy(const std::string& profile, const std::string& tag,
                          const std::string& dir);

// Runs `work` in a forked child, as another process of the same user would;
// true when it reported success.
bool InAnotherProcess(const std::function<bool()>& work);

// Whether the service table says that the system's own propagation runs.
void SetPropagationService(bool running);

} // namespace evtest
