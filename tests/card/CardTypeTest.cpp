#include "card/CardType.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

using namespace cardtest;

namespace {

struct Row {
    const std::vector<uint8_t>* atr;
    uint32_t type;
};

const Row kRows[] = {
    {&kAtrTcos20, scard::kTcos20},   {&kAtrTcos30, scard::kTcos30},
    {&kAtrMicardo, scard::kMicardo}, {&kAtrCardOs8, scard::kCardOs8},
    {&kAtrCardOs4, scard::kCardOs4}, {&kAtrTcos30V2, scard::kTcos30V2},
};

} // namespace

TEST(CardType, EveryRowMatchesOnlyAtItsExactLength) {
    for (const Row& row : kRows) {
        const auto& atr = *row.atr;
        EXPECT_EQ(scard::CardTypeFromAtr(atr), row.type);

        auto longer = atr;
        longer.push_back(0x00);
        EXPECT_EQ(scard::CardTypeFromAtr(longer), scard::kUnknownCard) << "type " << row.type;

        auto shorter = atr;
        shorter.pop_back();
        EXPECT_EQ(scard::CardTypeFromAtr(shorter), scard::kUnknownCard) << "type " << row.type;

        // Unmasked bytes count: a change in the historical bytes is another card.
        auto changed = atr;
        changed[9] ^= 0x01;
        EXPECT_EQ(scard::CardTypeFromAtr(changed), scard::kUnknownCard) << "type " << row.type;
    }
    EXPECT_EQ(scard::CardTypeFromAtr({}), scard::kUnknownCard);
}

TEST(CardType, Tcos20IgnoresBytes11And18Only) {
    auto atr = kAtrTcos20;
    for (int xx : {0x00, 0x05, 0x60, 0xFF}) {
        for (int yy : {0x00, 0x66, 0xA5, 0xFF}) {
            atr[11] = static_cast<uint8_t>(xx);
            atr[18] = static_cast<uint8_t>(yy);
            EXPECT_EQ(scard::CardTypeFromAtr(atr), scard::kTcos20) << xx << " " << yy;
        }
    }
    atr[12] ^= 0xFF;
    EXPECT_EQ(scard::CardTypeFromAtr(atr), scard::kUnknownCard);
}
