// Refused PINs leave no copy in freed memory. (The vpcd link's message
// buffer is checked by the core of velkora-vcard in the minidriver tests.)

#include "tests/support/FreedSecretWatch.h"
#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

namespace vcardtest {
namespace {

Bytes PinCommand(uint8_t ins, uint8_t ref, std::string_view first, std::string_view second) {
    const Bytes data = Cat(Ascii(first), Ascii(second));
    return Cat({0x00, ins, 0x00, ref, static_cast<uint8_t>(data.size())}, data);
}

TEST(SecretWipe, RefusedChangeAndUnblock) {
    const Bytes fresh = Ascii("27182818");
    const Bytes overlong = Ascii("27182818284590452");
    // Card PIN1 is 2468: the old values sent first are wrong, the last one is
    // right but its new PIN too long.
    const Bytes change = PinCommand(0x24, 0x00, "1357", "27182818");
    const Bytes unblock = PinCommand(0x2C, 0x01, "9753", "27182818");
    const Bytes tooLong = PinCommand(0x24, 0x00, "2468", "27182818284590452");
    Card card = Fresh("tcos30");
    ASSERT_TRUE(card->SetPin(0x00, Ascii("2468")));
    {
        velktest::FreedSecretWatch watch(fresh);
        EXPECT_EQ(card.Sw(change), 0x63C2);
        EXPECT_EQ(card.Sw(unblock), 0x63C1);
        EXPECT_EQ(watch.Hits(), 0);
    }
    {
        velktest::FreedSecretWatch watch(overlong);
        EXPECT_EQ(card.Sw(tooLong), 0x6A80);
        EXPECT_EQ(watch.Hits(), 0);
    }
}

} // namespace
} // namespace vcardtest
