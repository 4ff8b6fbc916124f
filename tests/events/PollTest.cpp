// The monitor's scans and polls in process: the virtual card in simulated
// readers, the minidriver stand-in reading it, real hive files for the
// stores. Each poll runs on the test's thread, one at a time.

#include "monitor/CCert.h"
#include "monitor/CertCollection.h"
#include "monitor/events/CCardOSEvents.h"
#include "monitor/events/MonitorState.h"
#include "monitor/events/PcscContext.h"
#include "pcscsim/SimControl.h"
#include "tests/events/EventsWorld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <new>
#include <thread>

using namespace evtest;

namespace {

const std::string kAnimate = "animate 80 4294967295";

// A tray whose animation cannot be started: there is no heap left.
class CThrowingTray final : public ITrayIconSink {
public:
    bool StartAnimation(uint32_t, uint32_t) override { throw std::bad_alloc(); }
    bool StopIconAnimation() override { return true; }
    bool ChangeIcon(uint32_t) override { return true; }
};

// Registers the card in `reader` the way the monitor would, but without it.
void RegisterBehindTheMonitorsBack(const std::string& reader) {
    SCARD_READERSTATE record{};
    record.szReader = reader.c_str();
    record.dwEventState = SCARD_STATE_PRESENT;
    const auto atr = montest::AtrOf("Velkora MD - TCOS 3.0");
    std::copy(atr.begin(), atr.end(), record.rgbAtr);
    record.cbAtr = static_cast<DWORD>(atr.size());
    CCert().AddReaderCertificates(&record);
}

class PollTest : public ::testing::Test {
protected:
    // The snapshot that the monitor keeps, as text per reader: 'P' present,
    // 'E' empty, '?' else; "-" when there is none.
    static std::string Stored() {
        std::lock_guard lock(MonitorMutex());
        if (!g_ReaderStates) {
            return "-";
        }
        std::string text;
        for (std::size_t i = 0; i < g_ReaderStates->Size(); ++i) {
            const auto& r = (*g_ReaderStates)[i];
            text += IsCardPresent(r) ? 'P' : IsReaderEmpty(r) ? 'E' : '?';
        }
        return text;
    }

    // The card pulled and put back, with a poll after each.
    void PullAndPutBack(const char* reader) {
        ASSERT_TRUE(pcscsim::RemoveCard(reader));
        EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
        ASSERT_TRUE(m_world.Insert(reader));
        EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    }

    EventsWorld m_world;
};

TEST_F(PollTest, StartRemovesLeftoversAndRegistersThePresentCards) {
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    // A registration that an earlier run left for a card no longer there.
    ASSERT_TRUE(m_world.Insert(kReaderB));
    ASSERT_TRUE(InAnotherProcess([] {
        RegisterBehindTheMonitorsBack(kReaderB);
        return RegisteredIn(kReaderB) > 0;
    }));
    ASSERT_TRUE(pcscsim::RemoveCard(kReaderB));
    ASSERT_TRUE(m_world.Insert(kReaderA));

    CCardOSEvents::PrepareMonitor();
    EXPECT_GT(RegisteredIn(kReaderA), 0u);
    EXPECT_EQ(RegisteredIn(kReaderB), 0u);
    EXPECT_EQ(Registrations().size(), RegisteredIn(kReaderA));
    EXPECT_EQ(g_ReaderCount, 2u);
    EXPECT_EQ(Stored(), "PE");
    EXPECT_EQ(m_world.tray.Icon(), 128u);
    EXPECT_EQ(g_RescanPending, 0u);

    // Nothing changed: a poll leaves the tray and the stores alone.
    m_world.tray.Take();
    const auto before = Registrations();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    }
    EXPECT_TRUE(m_world.tray.Take().empty());
    EXPECT_EQ(Registrations(), before);
}

TEST_F(PollTest, InsertionAndRemovalAcrossPolls) {
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    CCardOSEvents::PrepareMonitor();
    EXPECT_EQ(Stored(), "EE");
    EXPECT_EQ(m_world.tray.Take(), (std::vector<std::string>{"stop", "icon 128", "icon 314"}));

    ASSERT_TRUE(m_world.Insert(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    const std::size_t registered = RegisteredIn(kReaderB);
    EXPECT_GT(registered, 0u);
    EXPECT_EQ(Stored(), "EP");
    auto calls = m_world.tray.Take();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), kAnimate);
    EXPECT_EQ(calls.back(), "icon 128");
    EXPECT_EQ(m_world.tray.Icon(), 128u);

    // The reader's event counter has moved on; that alone is no change.
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(m_world.tray.Take().empty());

    // A card of another make is seen and stored, and registers nothing.
    ASSERT_TRUE(m_world.InsertForeign(kReaderA));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(Stored(), "PP");
    EXPECT_EQ(RegisteredIn(kReaderA), 0u);
    EXPECT_EQ(RegisteredIn(kReaderB), registered);

    ASSERT_TRUE(pcscsim::RemoveCard(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(Registrations().size(), 0u);
    EXPECT_EQ(Stored(), "PE");
    EXPECT_EQ(m_world.tray.Icon(), 314u);

    // Put back: registered again, exactly once.
    ASSERT_TRUE(m_world.Insert(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(RegisteredIn(kReaderB), registered);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
}

TEST_F(PollTest, AReaderAttachedOrDetachedDropsEveryRegistration) {
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    CCardOSEvents::PrepareMonitor();
    const std::size_t registered = RegisteredIn(kReaderA);
    ASSERT_GT(registered, 0u);

    // Attached with a card in it: every registration goes, in every reader,
    // and the present cards stay unregistered.
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(m_world.Insert(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(g_ReaderCount, 2u);
    EXPECT_EQ(Stored(), "PP");
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(m_world.tray.Icon(), 314u); // the icon follows the emptied list
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(Registrations().empty());

    // Until a card is pulled and put back.
    PullAndPutBack(kReaderA);
    EXPECT_EQ(RegisteredIn(kReaderA), registered);
    EXPECT_EQ(RegisteredIn(kReaderB), 0u);

    // Detached: the same again.
    ASSERT_TRUE(pcscsim::RemoveReader(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(g_ReaderCount, 1u);
    EXPECT_EQ(Stored(), "P");
    EXPECT_TRUE(Registrations().empty());

    // The last reader unplugged with its card registered: no card can be
    // reached, so the registrations go. Plugged in again with the card in
    // it: registered again.
    PullAndPutBack(kReaderA);
    ASSERT_EQ(RegisteredIn(kReaderA), registered);
    ASSERT_TRUE(pcscsim::RemoveReader(kReaderA));
    EXPECT_EQ(m_world.Poll(), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(m_world.tray.Icon(), 314u);
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(RegisteredIn(kReaderA), registered);
}

TEST_F(PollTest, WithThePropagationServiceRunningAnInsertionRemovesInstead) {
    pcscsim::AddReader(kReaderA);
    CCardOSEvents::PrepareMonitor();
    ASSERT_TRUE(m_world.Insert(kReaderA));
    // Registered by other means while the monitor still thinks it empty.
    RegisterBehindTheMonitorsBack(kReaderA);
    ASSERT_GT(RegisteredIn(kReaderA), 0u);
    m_world.tray.Take();

    SetPropagationService(true);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(RegisteredIn(kReaderA), 0u);
    EXPECT_EQ(Stored(), "P");
    const auto calls = m_world.tray.Take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), kAnimate), 2);

    // The next insertion without the service registers again.
    SetPropagationService(false);
    PullAndPutBack(kReaderA);
    EXPECT_GT(RegisteredIn(kReaderA), 0u);
}

TEST_F(PollTest, ACardHeldElsewhereIsPassedOverWhileTheOtherReadersAreServed) {
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    CCardOSEvents::PrepareMonitor();
    ASSERT_TRUE(m_world.Insert(kReaderA));
    ASSERT_TRUE(m_world.Insert(kReaderB));
    // Another program holds reader B's card for itself.
    CPcscContext other;
    ASSERT_EQ(other.Establish(), SCARD_S_SUCCESS);
    SCARDHANDLE held = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(other.Get(), kReaderB, SCARD_SHARE_EXCLUSIVE,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &held, &protocol),
              SCARD_S_SUCCESS);

    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    const std::size_t registered = RegisteredIn(kReaderA);
    EXPECT_GT(registered, 0u);
    EXPECT_EQ(RegisteredIn(kReaderB), 0u);
    EXPECT_EQ(Stored(), "PE");
    // The next poll tries B again and leaves A's card alone.
    pcscsim::ClearTrace(kReaderA);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(pcscsim::Trace(kReaderA).empty());
    EXPECT_EQ(Stored(), "PE");

    // Released: the card is an insertion now.
    ASSERT_EQ(SCardDisconnect(held, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(RegisteredIn(kReaderB), 0u);
    EXPECT_EQ(RegisteredIn(kReaderA), registered);
    EXPECT_EQ(Stored(), "PP");
}

TEST_F(PollTest, ACardBusyAtStartOrAFailedPollIsTriedAgain) {
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    ASSERT_TRUE(m_world.Insert(kReaderB));
    // Reader A's card is still busy at the initial scan; B's is served.
    pcscsim::FailNext(pcscsim::Call::Connect, 1, SCARD_E_SHARING_VIOLATION);
    CCardOSEvents::PrepareMonitor();
    EXPECT_EQ(RegisteredIn(kReaderA), 0u);
    EXPECT_GT(RegisteredIn(kReaderB), 0u);
    EXPECT_EQ(Stored(), "EP");

    // The heap runs out while the next poll shows its animation: that poll
    // ends, stores nothing, and the one after it serves the card.
    CThrowingTray tray;
    g_Tray.Set(&tray);
    EXPECT_EQ(m_world.Poll(), static_cast<LONG>(0x8007000Eu));
    EXPECT_EQ(Stored(), "EP");
    g_Tray.Set(&m_world.tray);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(RegisteredIn(kReaderA), 0u);
    EXPECT_EQ(Stored(), "PP");
}

TEST_F(PollTest, UpdateRemovesEverythingThenRegistersEveryPresentCard) {
    pcscsim::AddReader(kReaderA);
    pcscsim::AddReader(kReaderB);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    CCardOSEvents::PrepareMonitor();
    const auto registered = Registrations();
    ASSERT_FALSE(registered.empty());
    m_world.tray.Take();

    // Update returns at once, also while a poll holds the monitor: the
    // reset waits for the next poll.
    std::promise<void> locked;
    std::promise<void> release;
    std::thread poll([&] {
        const std::lock_guard lock(MonitorMutex());
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    CCardOSEvents::RequestRescan();
    EXPECT_EQ(g_RescanPending, 1u);
    release.set_value();
    poll.join();

    // First poll: the reader list looks changed, every registration goes,
    // and the tray stays quiet.
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(g_RescanPending, 0u);
    EXPECT_EQ(Stored(), "EE");
    EXPECT_TRUE(m_world.tray.Take().empty());

    // Second poll: the present card is an insertion.
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(Registrations(), registered);
    EXPECT_EQ(Stored(), "PE");
    EXPECT_EQ(m_world.tray.Icon(), 128u);
}

TEST_F(PollTest, UpdateWithoutReadersStaysPendingUntilAPollCompletes) {
    CCardOSEvents::PrepareMonitor(); // no reader at all
    EXPECT_EQ(Stored(), "-");
    EXPECT_EQ(g_ReaderCount, 0u);
    CCardOSEvents::RequestRescan();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_world.Poll(), SCARD_E_NO_READERS_AVAILABLE);
        EXPECT_EQ(g_RescanPending, 1u);
    }
    EXPECT_TRUE(Registrations().empty());

    // A reader with a card comes: the pending Update registers it.
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(g_RescanPending, 0u);
    EXPECT_TRUE(Registrations().empty());
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(RegisteredIn(kReaderA), 0u);

    // A second, empty reader, and a card into it: an insertion.
    pcscsim::AddReader(kReaderB);
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    ASSERT_TRUE(m_world.Insert(kReaderB));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(RegisteredIn(kReaderB), 0u);
    EXPECT_EQ(Stored(), "PP");
}

TEST_F(PollTest, APollWorksOnTheMonitorsContextAlone) {
    pcscsim::AddReader(kReaderA);
    CCardOSEvents::PrepareMonitor();
    ASSERT_NE(m_world.Context(), 0u);
    // No further context can be had; the poll does not need one.
    pcscsim::FailNext(pcscsim::Call::EstablishContext, 1000, SCARD_E_NO_MEMORY);
    ASSERT_TRUE(m_world.InsertForeign(kReaderA));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(Stored(), "P");
    CCardOSEvents::RequestRescan();
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_EQ(g_RescanPending, 0u);
    EXPECT_EQ(pcscsim::OpenContexts(), 1u);
}

TEST_F(PollTest, AStoreChangedElsewhereRefreshesTheListAndTheIcon) {
    pcscsim::AddReader(kReaderA);
    ASSERT_TRUE(m_world.Insert(kReaderA));
    CCardOSEvents::PrepareMonitor();
    ASSERT_FALSE(Registrations().empty());
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    const int fills = m_world.list.Fills();
    m_world.tray.Take();

    // Another process registers a card of a reader this one does not know.
    ASSERT_TRUE(InAnotherProcess([&] {
        pcscsim::AddReader(kReaderB);
        const bool inserted = m_world.Insert(kReaderB);
        RegisterBehindTheMonitorsBack(kReaderB);
        return inserted && RegisteredIn(kReaderB) > 0;
    }));
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_GT(m_world.list.Fills(), fills);
    const auto calls = m_world.tray.Take();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), kAnimate);
    EXPECT_EQ(m_world.tray.Icon(), 128u);
    EXPECT_EQ(g_CertCollection.Size(), Registrations().size());
    // The next poll finds list and store in step, which is a change of the
    // synchronisation's result too; after that the polls are quiet.
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_FALSE(m_world.tray.Take().empty());
    EXPECT_EQ(m_world.Poll(), SCARD_S_SUCCESS);
    EXPECT_TRUE(m_world.tray.Take().empty());
    EXPECT_EQ(g_CertCollection.Size(), Registrations().size());
}

} // namespace
