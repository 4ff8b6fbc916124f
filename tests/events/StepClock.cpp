#include "tests/events/StepClock.h"

namespace evtest {

namespace {
// Only a safety net against a hung test, never a measure of anything.
constexpr std::chrono::seconds kGiveUp{120};
} // namespace

LONG CStepClock::WaitForReaders(SCARDCONTEXT context, SCARD_READERSTATE* records, DWORD count,
                                std::chrono::milliseconds timeout) {
    if (m_realWaits) {
        return IMonitorClock::WaitForReaders(context, records, count, timeout);
    }
    Park();
    return SCARD_E_CANCELLED; // a poll follows, as after a sleep
}

void CStepClock::Sleep(std::chrono::milliseconds duration) {
    {
        std::lock_guard lock(m_mutex);
        m_slept.push_back(duration);
    }
    Park();
}

void CStepClock::Park() {
    std::unique_lock lock(m_mutex);
    const uint64_t ticket = ++m_entered;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_free || m_released >= ticket; });
}

bool CStepClock::WaitParked(std::unique_lock<std::mutex>& lock) {
    return m_changed.wait_for(lock, kGiveUp, [&] { return m_entered > m_released; });
}

bool CStepClock::Step(int turns) {
    std::unique_lock lock(m_mutex);
    for (int i = 0; i < turns; ++i) {
        if (!WaitParked(lock)) {
            return false;
        }
        ++m_released;
        m_changed.notify_all();
        if (!WaitParked(lock)) {
            return false;
        }
    }
    return true;
}

void CStepClock::Free() {
    std::lock_guard lock(m_mutex);
    m_free = true;
    m_changed.notify_all();
}

std::vector<std::chrono::milliseconds> CStepClock::Slept() const {
    std::lock_guard lock(m_mutex);
    return m_slept;
}

} // namespace evtest
