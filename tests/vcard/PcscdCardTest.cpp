// The virtual card through the real stack: private pcscd, vsmartcard-vpcd,
// velkora-vcard, and raw PC/SC calls from here.

#include "tests/support/TempDir.h"
#include "tests/support/VirtualPcscd.h"

#include <gtest/gtest.h>
#include <winscard.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using velktest::TempDir;

// One shared connection to a reader's card; everything released at the end.
class Connection {
public:
    explicit Connection(const std::string& reader) {
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_ctx) != SCARD_S_SUCCESS) {
            m_ctx = 0;
            return;
        }
        m_rv = SCardConnect(m_ctx, reader.c_str(), SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_card, &m_protocol);
        if (m_rv != SCARD_S_SUCCESS) {
            m_card = 0;
        }
    }
    ~Connection() {
        if (m_card != 0) {
            SCardDisconnect(m_card, SCARD_LEAVE_CARD);
        }
        if (m_ctx != 0) {
            SCardReleaseContext(m_ctx);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Ok() const { return m_card != 0; }
    DWORD Protocol() const { return m_protocol; }

    // The response APDU, or empty when the exchange failed.
    Bytes Transmit(const Bytes& apdu) {
        const SCARD_IO_REQUEST* pci = m_protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
        Bytes response(258);
        DWORD len = static_cast<DWORD>(response.size());
        if (SCardTransmit(m_card, pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr,
                          response.data(), &len) != SCARD_S_SUCCESS) {
            return {};
        }
        response.resize(len);
        return response;
    }
    uint16_t Sw(const Bytes& apdu) {
        const Bytes r = Transmit(apdu);
        return r.size() < 2 ? 0 : static_cast<uint16_t>(r[r.size() - 2] << 8 | r.back());
    }

private:
    SCARDCONTEXT m_ctx = 0;
    SCARDHANDLE m_card = 0;
    DWORD m_protocol = 0;
    LONG m_rv = SCARD_S_SUCCESS;
};

struct ReaderView {
    bool present = false;
    bool empty = false;
    Bytes atr;
};

ReaderView Look(const std::string& reader) {
    ReaderView view;
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) {
        return view;
    }
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    if (SCardGetStatusChange(ctx, 0, &state, 1) == SCARD_S_SUCCESS) {
        view.present = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
        view.empty = (state.dwEventState & SCARD_STATE_EMPTY) != 0;
        view.atr.assign(state.rgbAtr, state.rgbAtr + state.cbAtr);
    }
    SCardReleaseContext(ctx);
    return view;
}

const Bytes kTcos30Atr = {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D, 0x00, 0x64, 0x04, 0x11,
                          0x03, 0x01, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D};
const Bytes kMicardoAtr = {0x3B, 0x6F, 0x00, 0xFF, 0x00, 0x68, 0xD2, 0x76, 0x00, 0x00,
                           0x28, 0xFF, 0x05, 0x1E, 0x31, 0x80, 0x00, 0x90, 0x00};

const Bytes kSelectMf = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0xFF};
const Bytes kSelectGdo = {0x00, 0xA4, 0x02, 0x04, 0x02, 0x2F, 0x02, 0xFF};
const Bytes kReadBinary = {0x00, 0xB0, 0x00, 0x00, 0x80};

TEST(PcscdCard, InsertedCardIsPresentWithItsAtrAndAnswersApdus) {
    TempDir tmp;
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    const std::string reader = pcscd.ReaderName(0);
    EXPECT_TRUE(Look(reader).empty);

    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", tmp.File("card.img")));
    const ReaderView view = Look(reader);
    EXPECT_TRUE(view.present);
    EXPECT_EQ(view.atr, kTcos30Atr);

    Connection card(reader);
    ASSERT_TRUE(card.Ok());
    EXPECT_EQ(card.Protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(card.Sw(kSelectMf), 0x9000);
    const Bytes fci = card.Transmit(kSelectGdo);
    ASSERT_GE(fci.size(), 6u);
    EXPECT_EQ(fci[0], 0x62); // TCOS 3.0 FCI template
    EXPECT_EQ(Bytes(fci.end() - 2, fci.end()), (Bytes{0x90, 0x00}));
    // EF.GDO: 5A 0A and ten bytes, shorter than the 128 asked for.
    const Bytes gdo = card.Transmit(kReadBinary);
    ASSERT_EQ(gdo.size(), 14u);
    EXPECT_EQ(gdo[0], 0x5A);
    EXPECT_EQ(gdo[1], 0x0A);
    EXPECT_EQ(Bytes(gdo.end() - 2, gdo.end()), (Bytes{0x62, 0x82}));
    // A fresh card's Card PIN1 is still the NULL-PIN.
    EXPECT_EQ(card.Sw({0x00, 0x20, 0x00, 0x00}), 0x6985);
}

TEST(PcscdCard, RemovedCardLeavesTheReaderEmptyAndConnectionsFail) {
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    const std::string reader = pcscd.ReaderName(0);
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30v2", ""));
    Connection before(reader);
    ASSERT_TRUE(before.Ok());

    ASSERT_TRUE(pcscd.RemoveCard(0));
    const ReaderView view = Look(reader);
    EXPECT_TRUE(view.empty);
    EXPECT_FALSE(view.present);
    EXPECT_TRUE(before.Transmit(kSelectMf).empty()); // the handle of the pulled card is dead
    Connection after(reader);
    EXPECT_FALSE(after.Ok());
}

TEST(PcscdCard, TwoReadersHoldTwoDifferentCardsAtOnce) {
    velktest::VirtualPcscd pcscd(2);
    ASSERT_TRUE(pcscd.Ok());
    ASSERT_NE(pcscd.ReaderName(0), pcscd.ReaderName(1));
    ASSERT_TRUE(pcscd.InsertCard(0, "micardo", ""));
    ASSERT_TRUE(pcscd.InsertCard(1, "tcos30v2", ""));
    EXPECT_EQ(Look(pcscd.ReaderName(0)).atr, kMicardoAtr);
    EXPECT_EQ(Look(pcscd.ReaderName(1)).atr.size(), 23u);

    Connection micardo(pcscd.ReaderName(0));
    Connection tcos(pcscd.ReaderName(1));
    ASSERT_TRUE(micardo.Ok());
    ASSERT_TRUE(tcos.Ok());
    EXPECT_EQ(micardo.Protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0)); // its ATR offers T=0 only
    // Same command, each card in its own way: Micardo's PIN is set (63 C3),
    // the V2 card's PIN2 is not set yet and says so with 63 C0.
    EXPECT_EQ(micardo.Sw({0x00, 0xA4, 0x00, 0x00, 0x00}), 0x9000);
    EXPECT_EQ(micardo.Sw({0x00, 0x20, 0x00, 0x00}), 0x63C3);
    EXPECT_EQ(tcos.Sw({0x00, 0x20, 0x00, 0x01}), 0x63C0);

    ASSERT_TRUE(pcscd.RemoveCard(0));
    EXPECT_TRUE(Look(pcscd.ReaderName(0)).empty);
    EXPECT_TRUE(Look(pcscd.ReaderName(1)).present);
    EXPECT_EQ(tcos.Sw(kSelectMf), 0x9000);
}

TEST(PcscdCard, PinChangedInOneSessionHoldsAfterRemoveAndInsert) {
    TempDir tmp;
    const std::string image = tmp.File("card.img");
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    const std::string reader = pcscd.ReaderName(0);
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", image));
    {
        Connection card(reader);
        ASSERT_TRUE(card.Ok());
        // Break the NULL-PIN: old value six 00 bytes, new "4711".
        const Bytes change = {0x00, 0x24, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x00, '4',  '7',  '1',  '1'};
        ASSERT_EQ(card.Sw(change), 0x9000);
        EXPECT_EQ(card.Sw({0x00, 0x20, 0x00, 0x00, 0x04, '0', '0', '0', '0'}), 0x63C2);
    }
    ASSERT_TRUE(pcscd.RemoveCard(0));
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", image));
    Connection card(reader);
    ASSERT_TRUE(card.Ok());
    // The new PIN and the spent try survived; the verification did not.
    EXPECT_EQ(card.Sw({0x00, 0x20, 0x00, 0x00}), 0x63C2);
    EXPECT_EQ(card.Sw({0x00, 0x20, 0x00, 0x00, 0x04, '4', '7', '1', '1'}), 0x9000);
    EXPECT_EQ(card.Sw({0x00, 0x20, 0x00, 0x00}), 0x9000);
}

TEST(PcscdCard, FixtureRefusesASecondInstanceAndABadProfile) {
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    velktest::VirtualPcscd second(1);
    EXPECT_FALSE(second.Ok());
    EXPECT_FALSE(pcscd.InsertCard(0, "no-such-card", ""));
    EXPECT_FALSE(pcscd.InsertCard(1, "tcos30", ""));
    EXPECT_TRUE(Look(pcscd.ReaderName(0)).empty);
}

} // namespace
