// PIN behaviour of the virtual card, APDU in, status word out.

#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

namespace vcardtest {
namespace {

const Bytes kNullPin(6, 0x00);

Bytes Verify(uint8_t ref, std::string_view pin) {
    Bytes apdu = {0x00, 0x20, 0x00, ref, static_cast<uint8_t>(pin.size())};
    return Cat(apdu, Ascii(pin));
}
Bytes Status(uint8_t ref) {
    return {0x00, 0x20, 0x00, ref};
}
Bytes Change(uint8_t ref, const Bytes& oldValue, const Bytes& newValue) {
    const Bytes data = Cat(oldValue, newValue);
    return Cat({0x00, 0x24, 0x00, ref, static_cast<uint8_t>(data.size())}, data);
}
Bytes Unblock(uint8_t ref, const Bytes& puk, const Bytes& newValue) {
    const Bytes data = Cat(puk, newValue);
    return Cat({0x00, 0x2C, 0x00, ref, static_cast<uint8_t>(data.size())}, data);
}

TEST(VirtualCardPins, CardPinLifeCycleFromNullPinToBlockedAndUnblocked) {
    Card card = Fresh("tcos30");
    ASSERT_EQ(card.Sw("00 A4 02 04 02 2F 02 FF"), 0x9000);

    // Transport state: neither usable nor counted.
    EXPECT_EQ(card.Sw(Status(0x00)), 0x6985);
    EXPECT_EQ(card.Sw(Verify(0x00, "123456")), 0x6985);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x6985);

    // Breaking the NULL-PIN needs the six 00 bytes as old value.
    EXPECT_EQ(card.Sw(Change(0x00, Bytes(6, 0x01), Ascii("2468"))), 0x63C2);
    EXPECT_EQ(card.Sw(Change(0x00, kNullPin, Ascii("2468"))), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C3); // a success refilled the counter

    EXPECT_EQ(card.Sw(Verify(0x00, "1111")), 0x63C2);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C2);
    EXPECT_EQ(card.Sw(Verify(0x00, "2468")), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x9000);

    // A reset forgets the verification, not the counter.
    card->Reset();
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C3);

    // PIN2 is not set yet; it gets its value by an unblock with PIN1.
    EXPECT_EQ(card.Sw(Status(0x01)), 0x6A88);
    EXPECT_EQ(card.Sw(Verify(0x01, "12345678")), 0x6984);
    EXPECT_EQ(card.Sw(Change(0x01, Ascii("1234"), Ascii("5678"))), 0x6984);
    EXPECT_EQ(card.Sw(Unblock(0x01, Ascii("2468"), Ascii("13579"))), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x01)), 0x63C3);

    // Three wrong tries block PIN1; then even the right PIN is refused.
    EXPECT_EQ(card.Sw(Verify(0x00, "0000")), 0x63C2);
    EXPECT_EQ(card.Sw(Verify(0x00, "0000")), 0x63C1);
    EXPECT_EQ(card.Sw(Verify(0x00, "0000")), 0x63C0);
    EXPECT_EQ(card.Sw(Verify(0x00, "2468")), 0x6983);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x6983);
    EXPECT_EQ(card.Sw(Change(0x00, Ascii("2468"), Ascii("1357"))), 0x6983);

    // A wrong PUK costs a try of the partner, PIN2.
    EXPECT_EQ(card.Sw(Unblock(0x00, Ascii("99999"), Ascii("1357"))), 0x63C2);
    EXPECT_EQ(card.Sw(Unblock(0x00, Ascii("13579"), Ascii("1357"))), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x01)), 0x63C3); // partner refilled too
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C3);
    EXPECT_EQ(card.Sw(Verify(0x00, "1357")), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x00, "2468")), 0x63C2);
}

TEST(VirtualCardPins, ChangeChecksOldValueAndNewLength) {
    Card card = Fresh("tcos30");
    ASSERT_EQ(card.Sw(Change(0x00, kNullPin, Ascii("123456"))), 0x9000);

    EXPECT_EQ(card.Sw(Change(0x00, Ascii("654321"), Ascii("111111"))), 0x63C2);
    // Data shorter than the old PIN cannot hold it.
    EXPECT_EQ(card.Sw(Change(0x00, Ascii("123"), {})), 0x63C1);
    // Right old PIN, new one too short or too long: refused, no try spent.
    EXPECT_EQ(card.Sw(Change(0x00, Ascii("123456"), Ascii("123"))), 0x6A80);
    EXPECT_EQ(card.Sw(Change(0x00, Ascii("123456"), Bytes(17, '1'))), 0x6A80);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C1);
    EXPECT_EQ(card.Sw(Change(0x00, Ascii("123456"), Ascii("98765432"))), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x00, "98765432")), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x00, "123456")), 0x63C2);
}

TEST(VirtualCardPins, SignaturePinsAreLocalToDf01AndUnblockEachOther) {
    Card card = Fresh("tcos30");
    // From the MF the local references do not exist.
    EXPECT_EQ(card.Sw(Status(0x81)), 0x6A88);
    EXPECT_EQ(card.Sw(Status(0x83)), 0x6A88);
    // Wrong P1 and unknown references.
    EXPECT_EQ(card.Sw("00 20 01 00"), 0x6A86);
    EXPECT_EQ(card.Sw(Status(0x05)), 0x6A88);

    ASSERT_EQ(card.Sw("00 A4 01 04 02 DF 01 FF"), 0x9000);
    ASSERT_EQ(card.Sw("00 A4 02 04 02 50 49 FF"), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x81)), 0x6985);
    EXPECT_EQ(card.Sw(Status(0x83)), 0x6A88); // SigG PIN2 not set
    // Global PINs stay reachable from inside DF01.
    EXPECT_EQ(card.Sw(Status(0x00)), 0x6985);

    ASSERT_EQ(card.Sw("00 A4 02 04 02 C0 00 FF"), 0x9000);
    EXPECT_EQ(card.Sw(Change(0x81, kNullPin, Ascii("111111"))), 0x9000);
    // PIN1 as PUK gives PIN2 its value, then PIN2 unblocks PIN1.
    EXPECT_EQ(card.Sw(Unblock(0x83, Ascii("111111"), Ascii("22222222"))), 0x9000);
    for (int i = 0; i < 3; ++i) {
        card.Send(Verify(0x81, "000000"));
    }
    EXPECT_EQ(card.Sw(Status(0x81)), 0x6983);
    EXPECT_EQ(card.Sw(Unblock(0x81, Ascii("22222222"), Ascii("333333"))), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x81, "333333")), 0x9000);

    // Unblocking while the partner is still the NULL-PIN or blocked is refused.
    Card other = Fresh("tcos30");
    other.Send("00 A4 01 04 02 DF 01 FF");
    EXPECT_EQ(other.Sw(Unblock(0x83, kNullPin, Ascii("22222222"))), 0x6985);
}

TEST(VirtualCardPins, PinTwoNotSetAnswerIsAProfileOption) {
    EXPECT_EQ(Fresh("tcos30").Sw(Status(0x01)), 0x6A88);
    EXPECT_EQ(Fresh("tcos30v2").Sw(Status(0x01)), 0x63C0);
    EXPECT_EQ(Fresh("tcos20").Sw(Status(0x01)), 0x6A88);

    vcard::CardProfile custom = Keyless("tcos30");
    custom.notSetStatus = 0x63C0;
    Card card(vcard::OpenCard(custom, ""));
    EXPECT_EQ(card.Sw(Status(0x01)), 0x63C0);
    // A PIN that exists on no card of this kind stays 6A 88 either way.
    EXPECT_EQ(card.Sw(Status(0x02)), 0x6A88);
}

TEST(VirtualCardPins, MicardoTakesPinPairsAsTwoPaddedFieldsOf8Bytes) {
    Card card = Fresh("micardo");
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C3);
    auto padded = [](std::string_view a, std::string_view b) {
        Bytes data(16, 0x00);
        std::copy(a.begin(), a.end(), data.begin());
        std::copy(b.begin(), b.end(), data.begin() + 8);
        return data;
    };
    // Plain concatenation (Lc 12) is not this card's layout.
    EXPECT_EQ(card.Sw(Case3("00 24 00 00", Ascii("123456654321"))), 0x6700);
    EXPECT_EQ(card.Sw(Case3("00 24 00 00", padded("000000", "654321"))), 0x63C2);
    EXPECT_EQ(card.Sw(Case3("00 24 00 00", padded("123456", "654321"))), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x00, "654321")), 0x9000);
    // PIN2 (12345678, all 8 bytes used) unblocks PIN1.
    EXPECT_EQ(card.Sw(Case3("00 2C 00 00", padded("12345678", "1111"))), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x00, "1111")), 0x9000);
}

TEST(VirtualCardPins, CardOsAnswersStatusChangeAndUnblock) {
    Card card = Fresh("cardos4");
    Bytes mf = card.Send("00 A4 00 00 00");
    EXPECT_EQ(SwOf(mf), 0x9000);
    EXPECT_EQ(DataOf(mf).at(0), 0x62);
    EXPECT_EQ(card.Sw(Status(0x00)), 0x63C3);
    EXPECT_EQ(card.Sw("00 A4 08 04 02 DF 01 FF"), 0x9000);
    EXPECT_EQ(card.Sw(Status(0x81)), 0x63C3);
    EXPECT_EQ(card.Sw(Change(0x81, Ascii(vcard::kInitialPin1), Ascii("777777"))), 0x9000);
    EXPECT_EQ(card.Sw(Unblock(0x81, Ascii(vcard::kInitialPin2), Ascii("888888"))), 0x9000);
    EXPECT_EQ(card.Sw(Verify(0x81, "888888")), 0x9000);
}

} // namespace
} // namespace vcardtest
