// SCard's connection and transport against the in-process PC/SC library:
// the four command forms, the protocol choice, odd responses, and PC/SC
// failures (service gone, card pulled, buffer too small).

#include "tests/card/CardFixture.h"

#include "card/CardType.h"

using namespace cardtest;

namespace {

const std::vector<uint8_t> kMfTcos = Hex("00 A4 00 00 02 3F 00 FF");

} // namespace

TEST_F(CardTest, ConstructionIdentifiesTheCardAndSelectsTheMasterFile) {
    Insert(kAtrTcos30);
    SCard card(kReader);
    EXPECT_TRUE(card.Connected());
    EXPECT_EQ(card.CardType(), scard::kTcos30);
    EXPECT_EQ(card.LastError(), SCARD_S_SUCCESS);
    EXPECT_EQ(card.ActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(Sent(), std::vector<std::vector<uint8_t>>{kMfTcos});
    EXPECT_EQ(card.SelectedPath().size(), 2u);
    EXPECT_EQ(pcscsim::OpenContexts(), 1u);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 1u);
}

TEST_F(CardTest, UnknownAtrConnectsButSendsNothing) {
    auto atr = kAtrTcos30;
    atr.push_back(0x00); // one byte longer than the T-COS 3.0 row
    Insert(atr);
    SCard& card = Connect();
    EXPECT_TRUE(card.Connected());
    EXPECT_EQ(card.CardType(), scard::kUnknownCard);
    EXPECT_EQ(card.SelectMF(), 255);
    EXPECT_EQ(card.SelectPath("3f00df01c000", true), 255);
    uint8_t tries = 9;
    EXPECT_EQ(card.Verify("3f00df01c000", 0, "123456", tries), 255);
    EXPECT_EQ(card.WriteFile(std::vector<uint8_t>(10)), 255);
    EXPECT_EQ(card.ReadCardNumber(), "0000000000000000000");
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CardTest, FourCommandFormsAreLaidOutByteForByte) {
    Insert(kAtrTcos30);
    SCard& card = Connect();
    const auto data = Hex("11 22 33");

    card.SetCommand(SCard::Case1, 0x80, 0x20, 0x01, 0x02, 3, 0x80, data.data(), 3);
    EXPECT_TRUE(card.Transmit());
    card.SetCommand(SCard::Case2, 0x00, 0xB0, 0x01, 0x02, 3, 0x180, data.data(), 3);
    EXPECT_TRUE(card.Transmit());
    card.SetCommand(SCard::Case3, 0x00, 0xD6, 0x00, 0x10, 3, 0x80, data.data(), 3);
    EXPECT_TRUE(card.Transmit());
    card.SetCommand(SCard::Case4, 0x00, 0xA4, 0x02, 0x04, 3, 0xFF, data.data(), 3);
    EXPECT_TRUE(card.Transmit());

    const std::vector<std::vector<uint8_t>> expected = {
        Hex("80 20 01 02"),
        Hex("00 B0 01 02 80"), // only the low byte of Le
        Hex("00 D6 00 10 03 11 22 33"),
        Hex("00 A4 02 04 03 11 22 33 FF"),
    };
    EXPECT_EQ(Sent(), expected);

    // Command data is never read past what the caller gave: Lc says 5, the
    // data holds 2, and the rest goes as 00; no data pointer gives zeros.
    pcscsim::ClearTrace(kReader);
    card.SetCommand(SCard::Case3, 0x00, 0xD6, 0x00, 0x00, 5, 0, data.data(), 2);
    EXPECT_TRUE(card.Transmit());
    card.SetCommand(SCard::Case3, 0x00, 0xD6, 0x00, 0x00, 2, 0, nullptr, 0);
    EXPECT_TRUE(card.Transmit());
    EXPECT_EQ(Sent(), (std::vector<std::vector<uint8_t>>{Hex("00 D6 00 00 05 11 22 00 00 00"),
                                                         Hex("00 D6 00 00 02 00 00")}));

    // An unknown form sends nothing and clears the status word.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.Sw1(), 0x90);
    card.SetCommand(7, 0x00, 0xA4, 0x00, 0x00, 0, 0, nullptr, 0);
    EXPECT_FALSE(card.Transmit());
    EXPECT_EQ(card.Sw1(), 0);
    EXPECT_EQ(card.Sw2(), 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CardTest, ProtocolFollowsTheCardType) {
    // Micardo speaks T=0 from the first exchange, the constructor's SELECT MF.
    Insert(kAtrMicardo, /*t1=*/false);
    {
        SCard card(kReader);
        EXPECT_EQ(card.CardType(), scard::kMicardo);
        EXPECT_FALSE(card.UsesT1());
        EXPECT_EQ(card.ActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
        const auto trace = pcscsim::Trace(kReader);
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0].command, Hex("00 A4 00 00 00"));
        EXPECT_EQ(trace[0].protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
        EXPECT_EQ(card.SelectMF(), 0);
    }
    pcscsim::RemoveCard(kReader);
    pcscsim::ClearTrace(kReader);

    // Any other card keeps T=1: a T=0-only card that is not a Micardo refuses it.
    Insert(kAtrTcos30, /*t1=*/false);
    SCard card(kReader);
    EXPECT_TRUE(card.UsesT1());
    EXPECT_EQ(card.ActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(card.SelectMF(), 255);
    EXPECT_EQ(card.Sw1(), 0);
}

TEST_F(CardTest, ShortAndOversizedResponses) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    const auto read = [&card] {
        card.SetCommand(SCard::Case2, 0x00, 0xB0, 0x00, 0x00, 0, 0x00, nullptr, 0);
        return card.Transmit();
    };

    endpoint.Then("6A 82"); // exactly the status word
    EXPECT_TRUE(read());
    EXPECT_EQ(card.ResponseLength(), 0);
    EXPECT_EQ(card.Sw1(), 0x6A);
    EXPECT_EQ(card.Sw2(), 0x82);

    // 0 and 1 bytes: the exchange worked, but no status word came back, so
    // the earlier one must not survive.
    for (const auto& tiny : {std::vector<uint8_t>{}, Hex("90")}) {
        endpoint.Then("01 02 03 90 00");
        EXPECT_TRUE(read());
        EXPECT_EQ(card.ResponseLength(), 3);
        endpoint.Then(tiny);
        EXPECT_TRUE(read());
        EXPECT_EQ(card.ResponseLength(), 0);
        EXPECT_EQ(card.Sw1(), 0);
        EXPECT_EQ(card.Sw2(), 0);
        EXPECT_TRUE(card.Response().empty());
    }

    // The last two bytes are the status word, whatever they are.
    endpoint.Then(std::vector<uint8_t>(256, 0xAB));
    EXPECT_TRUE(read());
    EXPECT_EQ(card.ResponseLength(), 254);
    EXPECT_EQ(card.Sw1(), 0xAB);

    // 256 data bytes fit; 257 do not fit the 258 bytes offered.
    auto full = ScriptedCard::Block(256, 0x5A);
    endpoint.Then(full);
    EXPECT_TRUE(read());
    EXPECT_EQ(card.ResponseLength(), 256);
    EXPECT_EQ(card.Response().back(), 0x5A);

    full.insert(full.begin(), 0x5A);
    endpoint.Then(full);
    EXPECT_FALSE(read());
    EXPECT_EQ(card.Sw1(), 0);
    EXPECT_EQ(card.Sw2(), 0);
}

TEST_F(CardTest, FailedExchangeNeverPassesForTheEarlierSuccess) {
    Insert(kAtrTcos30);
    SCard& card = Connect();
    ASSERT_EQ(card.SelectMF(), 0);
    pcscsim::FailNext(pcscsim::Call::Transmit, 1, SCARD_F_COMM_ERROR);
    card.SetCommand(SCard::Case1, 0x00, 0x20, 0x00, 0x00, 0, 0, nullptr, 0);
    EXPECT_FALSE(card.Transmit());
    EXPECT_EQ(card.Sw1(), 0);
    EXPECT_EQ(card.Sw2(), 0);

    // A PIN state query whose exchange fails reports 255, not a state.
    pcscsim::FailNext(pcscsim::Call::Transmit, 3, SCARD_F_COMM_ERROR);
    EXPECT_EQ(card.CardPin1Status(), 255);
}

TEST_F(CardTest, ConstructionFailuresLeaveNothingOpen) {
    Insert(kAtrTcos30);
    {
        SCard card("");
        EXPECT_FALSE(card.Connected());
        EXPECT_EQ(card.LastError(), SCARD_S_SUCCESS);
        EXPECT_EQ(pcscsim::OpenContexts(), 0u);
    }
    {
        SCard card("No Such Reader");
        EXPECT_FALSE(card.Connected());
        EXPECT_EQ(card.LastError(), SCARD_E_UNKNOWN_READER);
        EXPECT_EQ(pcscsim::OpenContexts(), 0u); // released at the failed connect
        EXPECT_EQ(card.SelectMF(), 255);
    }
    {
        pcscsim::FailNext(pcscsim::Call::GetStatusChange, 1, SCARD_E_TIMEOUT);
        SCard card(kReader);
        EXPECT_TRUE(card.Connected());
        EXPECT_EQ(card.CardType(), scard::kUnknownCard);
        EXPECT_EQ(card.LastError(), SCARD_E_TIMEOUT);
        EXPECT_TRUE(card.Atr().empty());
    }
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
}

TEST_F(CardTest, ServiceGoneBeforeOrDuringTheOperation) {
    Insert(kAtrTcos30);
    pcscsim::StopService();
    {
        SCard card(kReader);
        EXPECT_FALSE(card.Connected());
        EXPECT_EQ(card.LastError(), SCARD_E_NO_SERVICE);
        EXPECT_EQ(card.ReadCardNumber(), "0000000000000000000");
    }
    pcscsim::StartService();
    {
        SCard card(kReader);
        ASSERT_EQ(card.CardType(), scard::kTcos30);
        pcscsim::StopService(); // pcscd restarted under us
        pcscsim::StartService();
        uint8_t tries = 7;
        EXPECT_EQ(card.Verify("3f00df01c000", 0, "123456", tries), 255);
        EXPECT_EQ(tries, 7);
        EXPECT_EQ(card.CardPin1Status(), 255);
        EXPECT_EQ(card.ReadCardNumber(), "");
        EXPECT_FALSE(card.HasMakerKey());
    }
    // The dead handles were still given back.
    EXPECT_EQ(pcscsim::OpenContexts(), 0u);
    EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
}

TEST_F(CardTest, CardPulledMidCommand) {
    Insert(kAtrTcos30);
    SCard& card = Connect();
    pcscsim::PullCardDuringTransmit(kReader, 1);
    uint8_t tries = 0;
    EXPECT_EQ(card.Verify("3f00df01c000", 0, "123456", tries), 255);
    EXPECT_EQ(card.Sw1(), 0);
    // Every later command fails as well, even with a card back in the reader.
    Insert(kAtrTcos30);
    EXPECT_EQ(card.SelectMF(), 255);
    EXPECT_EQ(card.CardPin1Status(), 255);
}
