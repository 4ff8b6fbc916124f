// The monitor thread in process: started and stopped through its flags, an
// Update from the user-interface thread while it polls, and the resource
// manager going away and coming back. The thread sleeps on a clock that the
// test turns, so every step is one turn of its loop. Also run under TSan.

#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "pcscsim/SimControl.h"
#include "tests/events/EventsWorld.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace evtest;
using std::chrono::milliseconds;

namespace {

TEST(MonitorThread, RunsUntilStoppedWhileUpdatesComeFromAnotherThread) {
    EventsWorld world;
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(world.Insert(kReaderA));
    CCardOSEvents::PrepareMonitor();
    const auto registered = Registrations();
    ASSERT_FALSE(registered.empty());

    ASSERT_TRUE(CCardOSEvents::StartMonitorThread());
    EXPECT_EQ(g_MonitorRunning, 1u);
    EXPECT_FALSE(CCardOSEvents::StartMonitorThread()); // one monitor only
    ASSERT_TRUE(world.clock.Step(2));

    // The card of reader B comes and goes while the user presses Update
    // over and over on another thread.
    std::atomic<bool> done{false};
    std::thread ui([&] {
        while (!done) {
            CCardOSEvents::RequestRescan();
            (void)world.tray.Icon();
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(world.Insert(kReaderB));
        ASSERT_TRUE(world.clock.Step(3));
        ASSERT_TRUE(pcscsim::RemoveCard(kReaderB));
        ASSERT_TRUE(world.clock.Step(3));
    }
    done = true;
    ui.join();

    // The last Update is carried out: all removed, then registered again.
    ASSERT_TRUE(world.clock.StepUntil([] { return g_RescanPending == 0; }));
    ASSERT_TRUE(world.clock.StepUntil([&] { return Registrations() == registered; }));
    EXPECT_EQ(RegisteredIn(kReaderB), 0u);

    // A stop request ends the loop; the thread leaves no context behind.
    world.StopThread();
    EXPECT_EQ(g_MonitorRunning, 0u);
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
    // Every sleep of the thread was a poll period.
    for (const auto slept : world.clock.Slept()) {
        EXPECT_EQ(slept, milliseconds(100));
    }
}

TEST(MonitorThread, RecoversWithANewContextWhenPcscdComesBack) {
    EventsWorld world;
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(world.Insert(kReaderA));
    CCardOSEvents::PrepareMonitor();
    ASSERT_GT(RegisteredIn(kReaderA), 0u);
    ASSERT_TRUE(CCardOSEvents::StartMonitorThread());
    ASSERT_TRUE(world.clock.Step());
    ASSERT_EQ(pcscsim::OpenContexts(), 1u);

    // pcscd goes away; its old contexts stay dead after it is back. No card
    // can be reached meanwhile, so none stays registered.
    pcscsim::StopService();
    ASSERT_TRUE(world.clock.Step(12));
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(world.tray.Icon(), 314u);
    // Back with the card still in: registered again, on a new context (the
    // dead one released).
    pcscsim::StartService();
    ASSERT_TRUE(world.clock.StepUntil([] { return RegisteredIn(kReaderA) > 0; }, 10));
    EXPECT_EQ(pcscsim::OpenContexts(), 1u);

    // And it goes on working: a card pulled and put back.
    ASSERT_TRUE(pcscsim::RemoveCard(kReaderA));
    ASSERT_TRUE(world.clock.StepUntil([] { return Registrations().empty(); }, 10));
    ASSERT_TRUE(world.Insert(kReaderA));
    ASSERT_TRUE(world.clock.StepUntil([] { return RegisteredIn(kReaderA) > 0; }, 10));

    // While pcscd was away the thread waited longer and longer, never less
    // than a poll period and never more than 5 s.
    std::vector<milliseconds> retries;
    for (const auto slept : world.clock.Slept()) {
        EXPECT_GE(slept, milliseconds(100));
        EXPECT_LE(slept, milliseconds(5000));
        if (slept > milliseconds(100)) {
            retries.push_back(slept);
        }
    }
    ASSERT_GE(retries.size(), 5u);
    EXPECT_EQ(retries.front(), milliseconds(200));
    EXPECT_EQ(retries.back(), milliseconds(5000));
    for (std::size_t i = 1; i < retries.size(); ++i) {
        EXPECT_EQ(retries[i], std::min(retries[i - 1] * 2, milliseconds(5000)));
    }
}

TEST(MonitorThread, WithoutPcscdAtStartItWaitsAndThenWatches) {
    EventsWorld world;
    pcscsim::StopService();
    CCardOSEvents::PrepareMonitor(); // finds nothing and ends quietly
    ASSERT_TRUE(CCardOSEvents::StartMonitorThread());
    ASSERT_TRUE(world.clock.Step(4));
    EXPECT_EQ(g_MonitorRunning, 1u);
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);

    pcscsim::StartService();
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(world.clock.StepUntil([] { return g_ReaderCount == 1; }));
    ASSERT_TRUE(world.Insert(kReaderA));
    ASSERT_TRUE(world.clock.StepUntil([] { return RegisteredIn(kReaderA) > 0; }));
    world.StopThread();
    EXPECT_EQ(g_MonitorRunning, 0u);
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);
}

TEST(MonitorThread, IdleItWaitsForPcscEventsAndWakesForThemUpdateAndStop) {
    EventsWorld world;
    pcscsim::AddReader(kReaderA);
    CCardOSEvents::PrepareMonitor();
    // The clock is never turned in the first part: each pause that is a
    // sleep would stop the thread for good.
    world.clock.UseRealWaits();
    ASSERT_TRUE(CCardOSEvents::StartMonitorThread());

    ASSERT_TRUE(world.Insert(kReaderA));
    ASSERT_TRUE(Eventually([] { return RegisteredIn(kReaderA) > 0; }));
    ASSERT_TRUE(pcscsim::RemoveCard(kReaderA));
    ASSERT_TRUE(Eventually([] { return Registrations().empty(); }));
    ASSERT_TRUE(world.Insert(kReaderA));
    ASSERT_TRUE(Eventually([] { return RegisteredIn(kReaderA) > 0; }));
    // A reader plugged in: the reader list changes, the registrations go.
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(Eventually([] { return g_ReaderCount == 2 && Registrations().empty(); }));
    EXPECT_TRUE(world.clock.Slept().empty());

    // Update wakes the thread; its second poll comes after a poll period.
    world.clock.Free();
    CCardOSEvents::RequestRescan();
    ASSERT_TRUE(Eventually([] { return RegisteredIn(kReaderA) > 0; }));

    // The stop wakes it too.
    CCardOSEvents::StopMonitor();
    EXPECT_EQ(g_MonitorRunning, 0u);
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);
}

} // namespace
