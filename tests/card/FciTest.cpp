#include "card/Fci.h"
#include "card/CardType.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

using cardtest::Hex;
using scard::FileSizeFromFci;

TEST(Fci, SizeTagOfEachCardType) {
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 0A 82 01 01 80 02 10 00 83 02 C0")), 4096);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30V2, Hex("62 08 80 02 08 00 82 01 01 00")), 2048);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos20, Hex("6F 08 81 02 00 0C 82 01 01 00")), 12);
    EXPECT_EQ(FileSizeFromFci(scard::kMicardo, Hex("6F 08 82 01 01 85 02 01 2C 00")), 300);
    // The tags of the other types do not count.
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 08 81 02 00 0C 85 02 01 2C")), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos20, Hex("62 06 81 02 00 0C 00 00")), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kCardOs4, Hex("62 06 80 02 00 0C 00 00")), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kUnknownCard, Hex("62 06 80 02 00 0C 00 00")), 0);
}

TEST(Fci, ValueIsBigEndianCutTo16Bits) {
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 06 80 01 7F 00 00 00")), 0x7F);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 07 80 03 01 23 45 00 00")), 0x2345);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 06 80 00 00 00 00 00")), 0);
}

TEST(Fci, HostileOrShortAnswersGiveZero) {
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, {}), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 04 80 02 10")), 0); // under 6 bytes
    // The walk stops at the template's length byte, even if a size follows.
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 04 82 02 01 01 80 02 10 00")), 0);
    // Claims more than arrived: nothing is read past the response.
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 FF 82 01 01 80 7F 10")), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 FF 82 F0 01 01 01 01")), 0);
    EXPECT_EQ(FileSizeFromFci(scard::kTcos30, Hex("62 FF 82 01 01 82 01 01 82")), 0);
}
