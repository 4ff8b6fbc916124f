// A poll thread blocked in SCardGetStatusChange, as the monitor will be,
// while another thread changes readers and cards.

#include "pcscsim/SimControl.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace cardtest;

namespace {

class PcscSimThreaded : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        pcscsim::AddReader("R");
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context),
                  SCARD_S_SUCCESS);
    }
    void TearDown() override {
        SCardReleaseContext(m_context);
        pcscsim::ResetAll();
    }

    // Repeats `action` until `done`; the waiter may not be waiting yet.
    static void Until(const std::atomic<bool>& done, const std::function<void()>& action) {
        while (!done) {
            action();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    SCARDCONTEXT m_context = 0;
};

} // namespace

TEST_F(PcscSimThreaded, InsertionWakesAnInfiniteWait) {
    std::atomic<bool> done{false};
    LONG rc = 0;
    DWORD eventState = 0;
    std::thread poller([&] {
        SCARD_READERSTATE state{};
        state.szReader = "R";
        state.dwCurrentState = SCARD_STATE_EMPTY;
        rc = SCardGetStatusChange(m_context, INFINITE, &state, 1);
        eventState = state.dwEventState;
        done = true;
    });
    pcscsim::InsertCard("R", std::make_shared<ScriptedCard>(kAtrTcos30));
    poller.join();
    EXPECT_EQ(rc, SCARD_S_SUCCESS);
    EXPECT_TRUE(eventState & SCARD_STATE_PRESENT);
}

TEST_F(PcscSimThreaded, CancelAndServiceStopEndTheWait) {
    for (bool viaCancel : {true, false}) {
        std::atomic<bool> done{false};
        LONG rc = 0;
        std::thread poller([&] {
            SCARD_READERSTATE state{};
            state.szReader = "R";
            state.dwCurrentState = SCARD_STATE_EMPTY;
            rc = SCardGetStatusChange(m_context, INFINITE, &state, 1);
            done = true;
        });
        if (viaCancel) {
            Until(done, [&] { SCardCancel(m_context); });
            poller.join();
            EXPECT_EQ(rc, SCARD_E_CANCELLED);
        } else {
            pcscsim::StopService();
            poller.join();
            EXPECT_EQ(rc, SCARD_E_NO_SERVICE);
        }
    }
}

TEST_F(PcscSimThreaded, TransactionsSerialiseTwoConnections) {
    pcscsim::InsertCard("R", std::make_shared<ScriptedCard>(kAtrTcos30));
    SCARDHANDLE a = 0;
    SCARDHANDLE b = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(m_context, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, &a, &protocol),
              SCARD_S_SUCCESS);
    ASSERT_EQ(SCardConnect(m_context, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, &b, &protocol),
              SCARD_S_SUCCESS);
    ASSERT_EQ(SCardBeginTransaction(a), SCARD_S_SUCCESS);

    const uint8_t apdu[] = {0x00, 0x20, 0x00, 0x00};
    uint8_t response[258];
    DWORD length = sizeof response;
    EXPECT_EQ(SCardTransmit(b, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_E_SHARING_VIOLATION);

    std::atomic<bool> done{false};
    LONG rc = 0;
    std::thread other([&] {
        rc = SCardBeginTransaction(b);
        done = true;
    });
    EXPECT_EQ(SCardEndTransaction(a, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    other.join();
    EXPECT_EQ(rc, SCARD_S_SUCCESS);
    EXPECT_EQ(SCardEndTransaction(a, SCARD_LEAVE_CARD), SCARD_E_NOT_TRANSACTED);
    EXPECT_EQ(SCardEndTransaction(b, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    SCardDisconnect(a, SCARD_LEAVE_CARD);
    SCardDisconnect(b, SCARD_LEAVE_CARD);
}
