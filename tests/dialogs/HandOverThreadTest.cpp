// The refresh requests of the monitor thread and of the propagation reach the open dialog
// through one hand-over: however they interleave with the refills on the dialog's thread, the
// last refill comes after the last change, and a burst of requests does not flood the dialog.

#include "dialogs/certs/CertListHandOver.h"
#include "monitor/CertCollection.h"
#include "monitor/events/MonitorState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Stands in for the dialog's event queue.
class CPostedQueue {
public:
    void Post() {
        std::lock_guard lock(m_mutex);
        ++m_posted;
        m_wake.notify_one();
    }
    // Waits for a posted refresh; false once `stop` is set and nothing is waiting.
    bool Take(const std::atomic<bool>& stop) {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(5), [&] { return m_posted > 0; });
        if (m_posted == 0) {
            return !stop;
        }
        --m_posted;
        ++m_taken;
        return true;
    }
    int Taken() const {
        std::lock_guard lock(m_mutex);
        return m_taken;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_posted = 0;
    int m_taken = 0;
};

TEST(CertListHandOver, TheLastRefillSeesTheLastChangeWhateverTheInterleaving) {
    CPostedQueue queue;
    CCertListHandOver handOver([&] { queue.Post(); });
    handOver.Attach();

    constexpr int kChanges = 20000;
    std::atomic<int> version{0};
    std::atomic<bool> stop{false};
    std::thread monitor([&] {
        for (int i = 1; i <= kChanges; ++i) {
            version = i;
            // The monitor's own call and the propagation's, as one poll makes both.
            if (i % 2 == 0) {
                g_CertDialog.With([](ICertListView& dialog) { dialog.FillList(); });
            } else {
                NotifyCollectionChanged();
            }
        }
        stop = true;
    });

    int seen = 0;
    int refills = 0;
    while (queue.Take(stop)) {
        if (handOver.TakeRequest()) {
            seen = version; // the refill reads the list now
            ++refills;
        }
    }
    monitor.join();
    // Whatever was left for the last refresh still arrives.
    while (queue.Take(stop)) {
        if (handOver.TakeRequest()) {
            seen = version;
            ++refills;
        }
    }
    EXPECT_EQ(seen, kChanges);
    EXPECT_GT(refills, 0);

    handOver.Detach();
    EXPECT_FALSE(g_CertDialog.IsSet());
    // Once detached, nothing reaches the dialog any more.
    NotifyCollectionChanged();
    EXPECT_FALSE(handOver.TakeRequest());
}

} // namespace
