// The in-process PC/SC library itself: the pcsc-lite behaviour that code
// under test relies on, and the control API's failure injection.

#include "pcscsim/SimControl.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace cardtest;

namespace {

class PcscSim : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context),
                  SCARD_S_SUCCESS);
    }
    void TearDown() override {
        SCardReleaseContext(m_context);
        EXPECT_EQ(pcscsim::OutstandingAllocations(), 0u);
        pcscsim::ResetAll();
    }

    // SCardConnect to reader "R" for any protocol; its result.
    LONG Connect(SCARDHANDLE& card, DWORD share = SCARD_SHARE_SHARED, const char* reader = "R") {
        DWORD protocol = 0;
        return SCardConnect(m_context, reader, share, SCARD_PROTOCOL_ANY, &card, &protocol);
    }

    SCARDCONTEXT m_context = 0;
};

} // namespace

TEST_F(PcscSim, ListReadersInEveryBufferMode) {
    DWORD length = 0;
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_E_NO_READERS_AVAILABLE);
    ASSERT_TRUE(pcscsim::AddReader("Reader A"));
    ASSERT_TRUE(pcscsim::AddReader("Reader B"));
    EXPECT_FALSE(pcscsim::AddReader("Reader A"));
    const std::string multi("Reader A\0Reader B\0\0", 19);

    // Length query, then a buffer of that size.
    ASSERT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_S_SUCCESS);
    EXPECT_EQ(length, multi.size());
    std::string buffer(length, 'x');
    ASSERT_EQ(SCardListReaders(m_context, nullptr, buffer.data(), &length), SCARD_S_SUCCESS);
    EXPECT_EQ(buffer, multi);

    // Too small: the needed size comes back.
    DWORD small = 5;
    EXPECT_EQ(SCardListReaders(m_context, nullptr, buffer.data(), &small),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small, multi.size());

    // Allocated by the library, freed through it exactly once.
    char* allocated = nullptr;
    DWORD autoLength = SCARD_AUTOALLOCATE;
    ASSERT_EQ(SCardListReaders(m_context, "SCard$DefaultReaders",
                               reinterpret_cast<LPSTR>(&allocated), &autoLength),
              SCARD_S_SUCCESS);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::string(allocated, autoLength), multi);
    EXPECT_EQ(pcscsim::OutstandingAllocations(), 1u);
    EXPECT_EQ(SCardFreeMemory(m_context, allocated), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardFreeMemory(m_context, allocated), SCARD_E_INVALID_VALUE);
}

TEST_F(PcscSim, StatusChangeReportsPresenceAtrAndTheEventCounter) {
    pcscsim::AddReader("R");
    SCARD_READERSTATE state{};
    state.szReader = "R";
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    ASSERT_EQ(SCardGetStatusChange(m_context, 0, &state, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(state.dwEventState & SCARD_STATE_EMPTY);
    EXPECT_TRUE(state.dwEventState & SCARD_STATE_CHANGED);
    EXPECT_EQ(state.dwEventState >> 16, 0u);

    // Nothing new: timeout.
    state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    EXPECT_EQ(SCardGetStatusChange(m_context, 0, &state, 1), SCARD_E_TIMEOUT);

    pcscsim::InsertCard("R", std::make_shared<ScriptedCard>(kAtrTcos30));
    ASSERT_EQ(SCardGetStatusChange(m_context, 0, &state, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(state.dwEventState & SCARD_STATE_PRESENT);
    EXPECT_EQ(state.dwEventState >> 16, 1u);
    ASSERT_EQ(state.cbAtr, kAtrTcos30.size());
    EXPECT_EQ(0, std::memcmp(state.rgbAtr, kAtrTcos30.data(), state.cbAtr));

    // Out and in again between two polls: the state looks the same, the
    // counter shows the change.
    state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    pcscsim::RemoveCard("R");
    pcscsim::InsertCard("R", std::make_shared<ScriptedCard>(kAtrTcos30));
    ASSERT_EQ(SCardGetStatusChange(m_context, 0, &state, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(state.dwEventState & SCARD_STATE_CHANGED);
    EXPECT_EQ(state.dwEventState >> 16, 3u);

    // Unknown readers, ignored records and the PnP pseudo reader.
    SCARD_READERSTATE more[3]{};
    more[0].szReader = "gone";
    more[1].szReader = "R";
    more[1].dwCurrentState = SCARD_STATE_IGNORE;
    more[2].szReader = "\\\\?PnP?\\Notification";
    ASSERT_EQ(SCardGetStatusChange(m_context, 0, more, 3), SCARD_S_SUCCESS);
    EXPECT_TRUE(more[0].dwEventState & SCARD_STATE_UNKNOWN);
    EXPECT_FALSE(more[1].dwEventState & SCARD_STATE_CHANGED);
    EXPECT_EQ(more[2].dwEventState >> 16, 1u);
    more[0].dwCurrentState = more[0].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    more[2].dwCurrentState = more[2].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    EXPECT_EQ(SCardGetStatusChange(m_context, 0, more, 3), SCARD_E_TIMEOUT);
    pcscsim::AddReader("S");
    ASSERT_EQ(SCardGetStatusChange(m_context, 0, more, 3), SCARD_S_SUCCESS);
    EXPECT_EQ(more[2].dwEventState >> 16, 2u);
}

TEST_F(PcscSim, ConnectNegotiatesAndTransmitChecksTheProtocol) {
    pcscsim::AddReader("R");
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(Connect(card), SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(Connect(card, SCARD_SHARE_SHARED, "X"), SCARD_E_UNKNOWN_READER);

    auto endpoint = std::make_shared<ScriptedCard>(kAtrMicardo, /*supportsT1=*/false);
    pcscsim::InsertCard("R", endpoint);
    EXPECT_EQ(SCardConnect(m_context, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol),
              SCARD_E_PROTO_MISMATCH);
    ASSERT_EQ(
        SCardConnect(m_context, "R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, &card, &protocol),
        SCARD_S_SUCCESS);
    EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));

    const uint8_t apdu[] = {0x00, 0xA4, 0x00, 0x00, 0x00};
    uint8_t response[258];
    DWORD length = sizeof response;
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_E_PROTO_MISMATCH);
    SCARD_IO_REQUEST receivePci{};
    length = sizeof response;
    ASSERT_EQ(SCardTransmit(card, SCARD_PCI_T0, apdu, sizeof apdu, &receivePci, response, &length),
              SCARD_S_SUCCESS);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(receivePci.dwProtocol, static_cast<unsigned long>(SCARD_PROTOCOL_T0));

    // An answer longer than the buffer: refused, with the size it needs.
    endpoint->Then(std::vector<uint8_t>(20, 0x61));
    length = 10;
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T0, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 20u);
    ASSERT_EQ(pcscsim::Trace("R").size(), 2u); // the card did see it

    // Exclusive access excludes the others.
    SCARDHANDLE second = 0;
    EXPECT_EQ(Connect(second, SCARD_SHARE_EXCLUSIVE), SCARD_E_SHARING_VIOLATION);
    EXPECT_EQ(SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
}

TEST_F(PcscSim, RemovalResetAndStatusOfAHandle) {
    pcscsim::AddReader("R");
    auto endpoint = std::make_shared<ScriptedCard>(kAtrTcos30);
    pcscsim::InsertCard("R", endpoint);
    SCARDHANDLE a = 0;
    SCARDHANDLE b = 0;
    DWORD protocol = 0;
    ASSERT_EQ(Connect(a), SCARD_S_SUCCESS);
    ASSERT_EQ(Connect(b), SCARD_S_SUCCESS);

    char* name = nullptr;
    DWORD nameLength = SCARD_AUTOALLOCATE;
    uint8_t atr[MAX_ATR_SIZE];
    DWORD atrLength = sizeof atr;
    DWORD state = 0;
    ASSERT_EQ(SCardStatus(a, reinterpret_cast<LPSTR>(&name), &nameLength, &state, &protocol, atr,
                          &atrLength),
              SCARD_S_SUCCESS);
    EXPECT_STREQ(name, "R");
    EXPECT_EQ(atrLength, kAtrTcos30.size());
    SCardFreeMemory(m_context, name);

    // A reset through one handle shows on the other until it reconnects.
    ASSERT_EQ(
        SCardReconnect(a, SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, SCARD_RESET_CARD, &protocol),
        SCARD_S_SUCCESS);
    EXPECT_EQ(endpoint->Resets(), 1);
    EXPECT_EQ(SCardStatus(a, nullptr, nullptr, &state, nullptr, nullptr, nullptr), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardStatus(b, nullptr, nullptr, &state, nullptr, nullptr, nullptr),
              SCARD_W_RESET_CARD);
    ASSERT_EQ(
        SCardReconnect(b, SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, SCARD_LEAVE_CARD, &protocol),
        SCARD_S_SUCCESS);

    // Pulled: both handles see it; a reconnect needs a card.
    pcscsim::RemoveCard("R");
    const uint8_t apdu[] = {0x00, 0x20, 0x00, 0x00};
    uint8_t response[258];
    DWORD length = sizeof response;
    EXPECT_EQ(SCardTransmit(b, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_W_REMOVED_CARD);
    EXPECT_EQ(
        SCardReconnect(a, SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, SCARD_LEAVE_CARD, &protocol),
        SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(SCardDisconnect(b, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    // Releasing the context takes its remaining handles along.
    EXPECT_EQ(pcscsim::OpenCardHandles(), 1u);
    SCardReleaseContext(m_context);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
    EXPECT_EQ(SCardIsValidContext(m_context), SCARD_E_INVALID_HANDLE);
}

TEST_F(PcscSim, InjectedFailuresAndAStoppedService) {
    pcscsim::AddReader("R");
    pcscsim::FailNext(pcscsim::Call::ListReaders, 2, SCARD_F_COMM_ERROR);
    DWORD length = 0;
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_F_COMM_ERROR);
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_F_COMM_ERROR);
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_S_SUCCESS);

    pcscsim::StopService();
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_E_NO_SERVICE);
    SCARDCONTEXT other = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other),
              SCARD_E_NO_SERVICE);
    pcscsim::StartService();
    // The old context stays dead; a new one works.
    EXPECT_EQ(SCardListReaders(m_context, nullptr, nullptr, &length), SCARD_E_NO_SERVICE);
    EXPECT_EQ(SCardIsValidContext(m_context), SCARD_E_INVALID_HANDLE);
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardListReaders(other, nullptr, nullptr, &length), SCARD_S_SUCCESS);
    SCardReleaseContext(other);
}

TEST_F(PcscSim, CardPulledWhileItWorksOnACommand) {
    pcscsim::AddReader("R");
    auto endpoint = std::make_shared<ScriptedCard>(kAtrTcos30);
    pcscsim::InsertCard("R", endpoint);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    ASSERT_EQ(Connect(card), SCARD_S_SUCCESS);
    const uint8_t apdu[] = {0x00, 0xD6, 0x00, 0x00, 0x01, 0xAA};
    uint8_t response[258];
    DWORD length = sizeof response;
    pcscsim::PullCardDuringTransmit("R", 2);
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_S_SUCCESS);
    length = sizeof response;
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_W_REMOVED_CARD);
    EXPECT_EQ(pcscsim::Trace("R").size(), 2u); // it reached the card

    // The endpoint may also pull its own card from inside an exchange.
    pcscsim::InsertCard("R", endpoint);
    endpoint->OnCommand([](std::span<const uint8_t>) {
        pcscsim::RemoveCard("R");
        return Hex("90 00");
    });
    ASSERT_EQ(
        SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, SCARD_LEAVE_CARD, &protocol),
        SCARD_S_SUCCESS);
    length = sizeof response;
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, response, &length),
              SCARD_W_REMOVED_CARD);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}
