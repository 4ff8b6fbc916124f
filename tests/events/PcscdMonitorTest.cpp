// The monitor through the real stack: a private pcscd with vsmartcard-vpcd
// readers, the project's virtual card in its own process, libpcsclite here,
// and the minidriver stand-in reading the card through the same pcscd.

#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/PcscContext.h"
#include "tests/events/MonitorProbe.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>

using namespace evtest;

namespace {

class PcscdMonitorTest : public ::testing::Test {
protected:
    ~PcscdMonitorTest() override {
        m_seams.StopThread();
        m_context.Release();
    }

    LONG Poll() {
        if (!m_context.Valid()) {
            m_context.Establish();
        }
        return CCardOSEvents::PollReaders(m_context.Get());
    }
    bool Insert(int slot) {
        const std::string image =
            CardImageCopy("tcos30", "slot" + std::to_string(slot), m_env.Dir());
        return !image.empty() && m_pcscd.InsertCard(slot, "tcos30", image);
    }

    velktest::VirtualPcscd m_pcscd{2};
    montest::MonitorEnv m_env{VELK_MD_PROVIDER};
    CMonitorSeams m_seams;
    CPcscContext m_context;
};

TEST_F(PcscdMonitorTest, InsertionsAndRemovalsInTwoReaders) {
    ASSERT_TRUE(m_pcscd.Ok());
    const std::string reader0 = m_pcscd.ReaderName(0);
    const std::string reader1 = m_pcscd.ReaderName(1);

    // A card present at start is registered by the initial scan.
    ASSERT_TRUE(Insert(0));
    CCardOSEvents::PrepareMonitor();
    EXPECT_EQ(g_ReaderCount, 2u);
    const std::size_t registered = RegisteredIn(reader0);
    ASSERT_GT(registered, 0u);
    EXPECT_EQ(m_seams.tray.Icon(), 128u);
    EXPECT_EQ(Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(Registrations().size(), registered);

    ASSERT_TRUE(Insert(1));
    EXPECT_EQ(Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(RegisteredIn(reader1), 0u);
    EXPECT_EQ(RegisteredIn(reader0), registered);

    // Pulling one card removes its reader's registrations only.
    ASSERT_TRUE(m_pcscd.RemoveCard(0));
    EXPECT_EQ(Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(RegisteredIn(reader0), 0u);
    EXPECT_GT(RegisteredIn(reader1), 0u);

    ASSERT_TRUE(m_pcscd.RemoveCard(1));
    EXPECT_EQ(Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(m_seams.tray.Icon(), 314u);
}

TEST_F(PcscdMonitorTest, IdleTheMonitorWaitsForPcscdAndWakesForUpdate) {
    ASSERT_TRUE(m_pcscd.Ok());
    const std::string reader0 = m_pcscd.ReaderName(0);
    CCardOSEvents::PrepareMonitor();
    // The clock is never turned: only pcscd's events move the thread.
    m_seams.clock.UseRealWaits();
    ASSERT_TRUE(CCardOSEvents::StartMonitorThread());
    ASSERT_TRUE(Insert(0));
    ASSERT_TRUE(Eventually([&] { return RegisteredIn(reader0) > 0; }));
    ASSERT_TRUE(m_pcscd.RemoveCard(0));
    ASSERT_TRUE(Eventually([] { return Registrations().empty(); }));
    EXPECT_TRUE(m_seams.clock.Slept().empty());

    // Update with the card back in wakes the thread, which registers the
    // card again (its second poll comes after a poll period).
    ASSERT_TRUE(Insert(0));
    ASSERT_TRUE(Eventually([&] { return RegisteredIn(reader0) > 0; }));
    m_seams.clock.Free();
    CCardOSEvents::RequestRescan();
    ASSERT_TRUE(Eventually([&] { return g_RescanPending == 0 && RegisteredIn(reader0) > 0; }));
    CCardOSEvents::StopMonitor(); // wakes the waiting thread
    EXPECT_EQ(g_MonitorRunning, 0u);
}

} // namespace
