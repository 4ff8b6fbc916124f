// PIN commands, the card number and the maker's key: APDUs and result codes.

#include "tests/card/CardFixture.h"

#include "card/CardType.h"
#include "card/MakerKey.h"
#include "card/StatusWords.h"

#include <string>

using namespace cardtest;
using Apdus = std::vector<std::vector<uint8_t>>;

namespace {

// The commands with the given instruction byte.
Apdus WithIns(const Apdus& apdus, uint8_t ins) {
    Apdus out;
    for (const auto& apdu : apdus) {
        if (apdu.size() > 1 && apdu[1] == ins) {
            out.push_back(apdu);
        }
    }
    return out;
}

} // namespace

TEST_F(CardTest, VerifyResultsAndTriesLeft) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    const struct {
        const char* sw;
        PinResult result;
        int tries; // -1: left as it was
    } cases[] = {
        {"90 00", 0, 3},    {"63 C2", 255, 2}, {"63 C0", 255, 0},  {"69 85", 4, -1},
        {"69 84", 5, -1},   {"69 83", 6, -1},  {"6A 80", 255, -1}, // not in the list: refused
        {"69 82", 255, -1},
    };
    for (const auto& c : cases) {
        pcscsim::ClearTrace(kReader);
        endpoint.Fallback(Hex("90 00"));
        // MF, DF01 and C000 answer 90 00; the VERIFY gets the status word.
        endpoint.OnCommand(nullptr);
        endpoint.Then("90 00");
        endpoint.Then("90 00");
        endpoint.Then("90 00");
        endpoint.Then(c.sw);
        uint8_t tries = 77;
        EXPECT_EQ(card.Verify("3f00df01c000", 0x00, "123456", tries), c.result) << c.sw;
        EXPECT_EQ(tries, c.tries < 0 ? 77 : c.tries) << c.sw;
        const auto sent = Sent();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), Hex("00 20 00 00 06 31 32 33 34 35 36")) << c.sw;
    }
    // Verify always starts from the master file.
    EXPECT_EQ(Sent().front(), Hex("00 A4 00 00 02 3F 00 FF"));
}

TEST_F(CardTest, VerifyStopsAtAFailedSelectionAndSkipsCardOs) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    uint8_t tries = 0;
    endpoint.Then("90 00");
    endpoint.Then("90 00");
    endpoint.Then("6A 82"); // C000 not found
    EXPECT_EQ(card.Verify("3f00df01c000", 0x00, "123456", tries), 255);
    EXPECT_TRUE(WithIns(Sent(), 0x20).empty());

    SCard& cardos = Reinsert(kAtrCardOs8);
    EXPECT_EQ(cardos.Verify("3f00df01c000", 0x00, "123456", tries), 0);
    EXPECT_TRUE(WithIns(Sent(), 0x20).empty());
}

TEST_F(CardTest, ChangeAndUnblockLayouts) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    uint8_t tries = 0;

    // Old and new value back to back.
    EXPECT_EQ(card.ChangeReferenceData("3f002f02", 0x01, Bytes("1234"), Bytes("567890"), tries), 0);
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(WithIns(Sent(), 0x24), Apdus{Hex("00 24 00 01 0A 31 32 33 34 35 36 37 38 39 30")});

    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(
        card.ResetRetryCounter("3f00df01c000", 0x81, Bytes("11111111"), Bytes("222222"), tries), 0);
    EXPECT_EQ(WithIns(Sent(), 0x2C),
              Apdus{Hex("00 2C 00 81 0E 31 31 31 31 31 31 31 31 32 32 32 32 32 32")});

    // Results differ from Verify: 69 83 is a blocked PIN here.
    const struct {
        const char* sw;
        PinResult result;
        int tries;
    } cases[] = {{"69 83", 5, -1},
                 {"69 84", 5, -1},
                 {"69 85", 4, -1},
                 {"63 C1", 255, 1},
                 {"6F 00", 255, -1}};
    for (const auto& c : cases) {
        endpoint.OnCommand([&](std::span<const uint8_t> apdu) {
            return apdu[1] == 0x24 ? Hex(c.sw) : Hex("90 00");
        });
        tries = 77;
        EXPECT_EQ(
            card.ChangeReferenceData("3f002f02", 0x00, Bytes("123456"), Bytes("654321"), tries),
            c.result)
            << c.sw;
        EXPECT_EQ(tries, c.tries < 0 ? 77 : c.tries) << c.sw;
    }

    // More than 32 bytes together: nothing is sent.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.ChangeReferenceData("3f002f02", 0x00, std::vector<uint8_t>(17, 0x31),
                                       std::vector<uint8_t>(16, 0x32), tries),
              255);
    EXPECT_TRUE(WithIns(Sent(), 0x24).empty());
}

TEST_F(CardTest, MicardoPadsBothValuesToEightBytes) {
    Insert(kAtrMicardo, /*t1=*/false);
    SCard& card = Connect();
    uint8_t tries = 0;

    // 4 + 4 is below 12: refused before sending; so is 9 + 8.
    EXPECT_EQ(card.ChangeReferenceData("3f002f02", 0x00, Bytes("1234"), Bytes("5678"), tries), 255);
    EXPECT_EQ(
        card.ResetRetryCounter("3f002f02", 0x00, Bytes("123456789"), Bytes("12345678"), tries),
        255);
    EXPECT_TRUE(WithIns(Sent(), 0x24).empty());
    EXPECT_TRUE(WithIns(Sent(), 0x2C).empty());

    EXPECT_EQ(card.ChangeReferenceData("3f002f02", 0x00, Bytes("123456"), Bytes("654321"), tries),
              0);
    EXPECT_EQ(WithIns(Sent(), 0x24),
              Apdus{Hex("00 24 00 00 10 31 32 33 34 35 36 00 00 36 35 34 33 32 31 00 00")});
    for (const auto& exchange : pcscsim::Trace(kReader)) {
        EXPECT_EQ(exchange.protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
    }
}

TEST_F(CardTest, ChangeIsRefusedOnCardOs8ButSentToCardOs4) {
    uint8_t tries = 0;
    for (const auto* atr : {&kAtrCardOs8, &kAtrCardOs4}) {
        SCard& card = Reinsert(*atr);
        EXPECT_EQ(
            card.ChangeReferenceData("3f00df01c000", 0x81, Bytes("123456"), Bytes("654321"), tries),
            atr == &kAtrCardOs8 ? 255 : 0);
        EXPECT_EQ(WithIns(Sent(), 0x24).size(), atr == &kAtrCardOs8 ? 0u : 1u);
    }
}

TEST_F(CardTest, PinStatusQueries) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    const struct {
        const char* sw;
        PinResult result;
    } cases[] = {{"90 00", 3}, {"63 C2", 2}, {"63 C1", 1}, {"63 C0", 5}, {"69 85", 4},
                 {"69 84", 5}, {"69 83", 6}, {"6A 88", 0}, {"6D 00", 0}};
    for (const auto& c : cases) {
        endpoint.OnCommand([&](std::span<const uint8_t> apdu) {
            return apdu[1] == 0x20 ? Hex(c.sw) : Hex("90 00");
        });
        EXPECT_EQ(card.CardPin2Status(), c.result) << c.sw;
    }

    // Each query selects its file and sends VERIFY without data.
    endpoint.OnCommand(nullptr);
    card.SelectMF();
    pcscsim::ClearTrace(kReader);
    card.CardPin1Status();
    card.CardPin2Status();
    card.SigPin1Status();
    card.SigPin2Status();
    // Elementary files never count as selected: 2F02 is selected again.
    EXPECT_EQ(
        Sent(),
        (Apdus{Hex("00 A4 02 04 02 2F 02 FF"), Hex("00 20 00 00"), Hex("00 A4 02 04 02 2F 02 FF"),
               Hex("00 20 00 01"), Hex("00 A4 01 04 02 DF 01 FF"), Hex("00 A4 02 04 02 50 49 FF"),
               Hex("00 20 00 81"), Hex("00 A4 02 04 02 50 49 FF"), Hex("00 20 00 83")}));

    // A failed selection does not stop the query (its result is not looked at).
    endpoint.OnCommand([&](std::span<const uint8_t> apdu) {
        return apdu[1] == 0xA4 ? Hex("6A 82") : Hex("63 C1");
    });
    EXPECT_EQ(card.SigPin1Status(), 1);
}

TEST_F(CardTest, CardNumberFromGdoOnTcosOnly) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    // EF.GDO: 5A 0A and ten bytes, 20 hex digits, of which 19 are kept.
    endpoint.Then("62 06 80 02 00 0C 82 01 01 90 00");
    endpoint.Then("5A 0A 89 49 01 23 45 67 89 AB CD EF 90 00");
    EXPECT_EQ(card.ReadCardNumber(), "89490123456789abcde");
    EXPECT_EQ(Sent(), (Apdus{Hex("00 A4 02 04 02 2F 02 FF"), Hex("00 B0 00 00 80"),
                             Hex("00 A4 00 00 02 3F 00 FF")}));
    // An unreadable EF.GDO gives the empty text, and still ends in the MF.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("62 06 80 02 00 0C 82 01 01 90 00");
    endpoint.Then("69 82");
    EXPECT_EQ(card.ReadCardNumber(), "");
    EXPECT_EQ(Sent().back(), Hex("00 A4 00 00 02 3F 00 FF"));

    // CardOS: nineteen zeros, nothing read.
    EXPECT_EQ(Reinsert(kAtrCardOs4).ReadCardNumber(), "0000000000000000000");
    EXPECT_EQ(Sent(), Apdus{Hex("00 A4 00 00 00")});
}

TEST_F(CardTest, MakerKeyInstallation) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    EXPECT_EQ(card.WriteMakerKey(), 0);
    auto expected = Hex("00 22 81 A4 8F 83 01 77 7F 49 81 89 81 81 80");
    expected.insert(expected.end(), scard::kMakerModulus.begin(), scard::kMakerModulus.end());
    const auto tail = Hex("82 03 01 00 01");
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_EQ(expected.size(), 5u + 143u);
    EXPECT_EQ(Sent(), Apdus{expected});

    const struct {
        const char* sw;
        PinResult result;
    } cases[] = {{"69 85", 4}, {"69 84", 5},   {"69 83", 6},
                 {"69 82", 8}, {"63 C1", 255}, {"6A 80", 255}};
    for (const auto& c : cases) {
        endpoint.Then(c.sw);
        EXPECT_EQ(card.WriteMakerKey(), c.result) << c.sw;
    }
    pcscsim::FailNext(pcscsim::Call::Transmit, 1, SCARD_E_NOT_TRANSACTED);
    EXPECT_EQ(card.WriteMakerKey(), 255);

    // Only T-COS 3.0 cards take the key; others report 0 without a command.
    for (const auto* atr : {&kAtrTcos20, &kAtrMicardo, &kAtrCardOs4}) {
        EXPECT_EQ(Reinsert(*atr, atr != &kAtrMicardo).WriteMakerKey(), 0);
        EXPECT_TRUE(Sent().empty());
    }
    EXPECT_EQ(Reinsert(kAtrTcos30V2).WriteMakerKey(), 0);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(CardTest, MakerKeyCheckComparesRecordFive) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    // The answers to MF, 4500 and record 5 of it.
    const auto check = [&](std::vector<uint8_t> answer) {
        endpoint.Then("90 00");
        endpoint.Then("90 00");
        endpoint.Then(std::move(answer));
        return card.HasMakerKey();
    };
    auto record = std::vector<uint8_t>(scard::kMakerModulus.begin(), scard::kMakerModulus.end());
    record.push_back(0x01); // more than the modulus is fine
    record.push_back(0x90);
    record.push_back(0x00);
    EXPECT_TRUE(check(record));
    EXPECT_EQ(Sent(), (Apdus{Hex("00 A4 00 00 02 3F 00 FF"), Hex("00 A4 02 04 02 45 00 FF"),
                             Hex("00 B2 05 04 00")}));

    auto other = record;
    other[127] ^= 0x01;
    EXPECT_FALSE(check(other));
    // 127 bytes of the right modulus are not the key.
    auto shorter = ScriptedCard::Block(0, 0);
    shorter.insert(shorter.begin(), scard::kMakerModulus.begin(), scard::kMakerModulus.end() - 1);
    EXPECT_FALSE(check(shorter));
    EXPECT_FALSE(check(Hex("6A 83"))); // no record 5
    endpoint.Then("90 00");
    endpoint.Then("6A 82"); // no 4500
    EXPECT_FALSE(card.HasMakerKey());

    // CardOS reads no record: the answer to the MF selection is compared.
    m_card.reset();
    pcscsim::RemoveCard(kReader);
    auto& cardos = Insert(kAtrCardOs8);
    cardos.Fallback(Hex("6F 07 83 02 3F 00 84 01 00 90 00"));
    SCard& c = Connect();
    EXPECT_FALSE(c.HasMakerKey());
    EXPECT_EQ(Sent(), Apdus{Hex("00 A4 00 00 00")});
}
