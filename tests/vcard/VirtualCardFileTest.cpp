// Files of the virtual card: selection, FCI, reading and writing, the key
// installation, malformed commands.

#include "tests/vcard/CardTestUtil.h"

#include <gtest/gtest.h>

namespace vcardtest {
namespace {

TEST(VirtualCardFiles, ReadBinaryWalksOffsetsAndReports6282AtTheEnd) {
    Card card = Fresh("tcos30");
    ASSERT_EQ(card.Sw("00 A4 01 04 02 DF 01 FF"), 0x9000);
    ASSERT_EQ(card.Sw("00 A4 02 04 02 C0 00 FF"), 0x9000);
    // Fill the 4096-byte file with a pattern, 128 bytes at a time.
    Bytes pattern(4096);
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    for (size_t off = 0; off < pattern.size(); off += 128) {
        Bytes apdu = {0x00, 0xD6, static_cast<uint8_t>(off >> 8), static_cast<uint8_t>(off), 128};
        apdu.insert(apdu.end(), pattern.begin() + static_cast<long>(off),
                    pattern.begin() + static_cast<long>(off) + 128);
        ASSERT_EQ(card.Sw(apdu), 0x9000) << off;
    }
    Bytes read;
    uint16_t sw = 0;
    for (size_t off = 0; off < 4096; off += 128) {
        const Bytes r = card.Send(
            {0x00, 0xB0, static_cast<uint8_t>(off >> 8), static_cast<uint8_t>(off), 0x80});
        sw = SwOf(r);
        ASSERT_EQ(sw, 0x9000) << off;
        const Bytes d = DataOf(r);
        read.insert(read.end(), d.begin(), d.end());
    }
    EXPECT_EQ(read, pattern);
    // 64 bytes before the end, 128 asked: 64 come with 62 82.
    const Bytes tail = card.Send("00 B0 0F C0 80");
    EXPECT_EQ(SwOf(tail), 0x6282);
    EXPECT_EQ(DataOf(tail), Bytes(pattern.end() - 64, pattern.end()));
    EXPECT_EQ(card.Sw("00 B0 10 00 80"), 0x6B00); // past the end
    EXPECT_EQ(card.Sw("00 B0 80 00 80"), 0x6A81); // short EF identifier: not supported
    // Le 00 asks for 256.
    EXPECT_EQ(DataOf(card.Send("00 B0 00 00 00")).size(), 256u);
    // The setup API sees what the APDUs wrote.
    EXPECT_EQ(card->ReadFile("3f00/df01/c000"), pattern);
}

TEST(VirtualCardFiles, UpdateBinaryGuardsTheFileBounds) {
    Card card = Fresh("tcos30");
    card.Send("00 A4 01 04 02 DF 02 FF");
    ASSERT_EQ(card.Sw("00 A4 02 04 02 C2 00 FF"), 0x9000); // 2048 bytes
    EXPECT_EQ(card.Sw(Case3("00 D6 07 F8", Bytes(8, 0xAB))), 0x9000);
    EXPECT_EQ(card.Sw(Case3("00 D6 07 F8", Bytes(9, 0xAB))), 0x6700);
    EXPECT_EQ(card.Sw(Case3("00 D6 08 00", Bytes(1, 0xAB))), 0x6B00);
    EXPECT_EQ(card->ReadFile("3f00df02c200")->back(), 0xAB);
    // EF.GDO cannot be written; a record file takes no UPDATE BINARY.
    card.Send("00 A4 00 00 02 3F 00 FF");
    card.Send("00 A4 02 04 02 2F 02 FF");
    EXPECT_EQ(card.Sw(Case3("00 D6 00 00", Bytes(2, 0))), 0x6982);
    card.Send("00 A4 02 04 02 45 00 FF");
    EXPECT_EQ(card.Sw(Case3("00 D6 00 00", Bytes(2, 0))), 0x6981);
    EXPECT_EQ(card.Sw("00 B0 00 00 80"), 0x6981);
    // With no EF selected there is nothing to read.
    card.Send("00 A4 00 00 02 3F 00 FF");
    EXPECT_EQ(card.Sw("00 B0 00 00 80"), 0x6986);
    EXPECT_EQ(card.Sw("00 B2 01 04 00"), 0x6986);
}

TEST(VirtualCardFiles, SelectionFollowsTheTreeAndForgetsNothingOnFailure) {
    Card card = Fresh("tcos30");
    EXPECT_EQ(card.Sw("00 A4 02 04 02 C0 00 FF"), 0x6A82); // C000 is not in the MF
    EXPECT_EQ(card.Sw("00 A4 01 04 02 2F 02 FF"), 0x6A82); // an EF is no DF
    EXPECT_EQ(card.Sw("00 A4 01 04 03 DF 01 00 FF"), 0x6A87);
    EXPECT_EQ(card.Sw("00 A4 03 00 02 DF 01 FF"), 0x6A86);
    EXPECT_EQ(card.Sw("00 A4 01 05 02 DF 01 FF"), 0x6A86);
    ASSERT_EQ(card.Sw("00 A4 01 04 02 DF 02 FF"), 0x9000);
    EXPECT_EQ(card.Sw("00 A4 01 04 02 DF 01 FF"), 0x6A82); // DF01 is beside DF02, not in it
    // DF02 stays selected after the failure: its EF is found.
    EXPECT_EQ(card.Sw("00 A4 02 04 02 45 B1 FF"), 0x9000);
    // Selecting by path from the MF reaches any file directly.
    EXPECT_EQ(card.Sw("00 A4 08 04 04 DF 01 50 49 FF"), 0x9000);
    EXPECT_EQ(card.Sw("00 A4 08 04 02 DF 09 FF"), 0x6A82);
    // P2 0C: no FCI.
    EXPECT_EQ(card.Send("00 A4 00 0C 02 3F 00").size(), 2u);
}

TEST(VirtualCardFiles, FciCarriesTheSizeInEachCardTypesLayout) {
    {
        Card card = Fresh("tcos30");
        card.Send("00 A4 01 04 02 DF 01 FF");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 04 02 C0 00 FF")), 0x62, 0x80), 4096u);
        card.Send("00 A4 00 00 02 3F 00 FF");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 04 02 2F 02 FF")), 0x62, 0x80), 12u);
        card.Send("00 A4 08 04 02 DF 02 FF");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 04 02 C5 00 FF")), 0x62, 0x80), 2048u);
        // The size of a record file counts its records' bytes (4 of 3).
        card.Send("00 A4 00 00 02 3F 00 FF");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 04 02 45 00 FF")), 0x62, 0x80), 12u);
        // A DF has no size.
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 01 04 02 DF 01 FF")), 0x62, 0x80), 0u);
    }
    {
        Card card = Fresh("tcos30v2"); // EF selection with P2 00, same template
        card.Send("00 A4 01 04 02 DF 02 FF");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 00 02 C0 00 FF")), 0x62, 0x80), 2048u);
    }
    {
        Card card = Fresh("tcos20");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 00 02 2F 02 FF")), 0x6F, 0x81), 12u);
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 00 02 2F 02 FF")), 0x62, 0x80), 0u);
    }
    {
        // T=0 card: the case 3 selection still yields the FCI.
        Card card = Fresh("micardo");
        EXPECT_EQ(FciSize(DataOf(card.Send("00 A4 02 00 02 2F 02")), 0x6F, 0x85), 12u);
        EXPECT_EQ(SwOf(card.Send("00 A4 00 00 00")), 0x9000);
    }
    {
        // A T=1 card answers a case 3 selection without data.
        Card card = Fresh("tcos30");
        EXPECT_EQ(card.Send("00 A4 02 04 02 2F 02"), H("90 00"));
    }
}

TEST(VirtualCardFiles, ReadRecordServesNumberedRecords) {
    Card card = Fresh("tcos30");
    card.Send("00 A4 02 04 02 45 00 FF");
    EXPECT_EQ(card.Send("00 B2 01 04 00"), H("83 01 81 90 00"));
    EXPECT_EQ(card.Sw("00 B2 05 04 00"), 0x6A83); // no maker key yet
    EXPECT_EQ(card.Sw("00 B2 00 04 00"), 0x6A83);
    EXPECT_EQ(card.Sw("00 B2 01 0C 00"), 0x6A86);
    EXPECT_EQ(card.Sw("00 B2 01 04 02"), 0x6C03); // record longer than Le
    EXPECT_TRUE(card->WriteRecord("3f004500", 5, H("01 02")));
    EXPECT_EQ(card.Send("00 B2 05 04 00"), H("01 02 90 00"));
    EXPECT_FALSE(card->WriteRecord("3f004500", 7, H("01")));
}

Bytes MakerKeyData(uint8_t fill) {
    Bytes data = H("83 01 77 7F 49 81 89 81 81 80");
    data.insert(data.end(), 128, fill);
    return Cat(data, H("82 03 01 00 01"));
}

TEST(VirtualCardFiles, MakerKeyNeedsVerifiedCardPinThenLandsInRecord5) {
    Card card = Fresh("tcos30");
    const Bytes install = Case3("00 22 81 A4", MakerKeyData(0xC3));
    ASSERT_EQ(install.size(), 5u + 143u);
    EXPECT_EQ(card.Sw(install), 0x6985); // Card PIN1 still the NULL-PIN
    ASSERT_EQ(card.Sw(Case3("00 24 00 00", Cat(Bytes(6, 0), Ascii("112233")))), 0x9000);
    EXPECT_EQ(card.Sw(install), 0x6982); // not verified in this session
    card.Send("00 A4 08 04 04 DF 01 C0 00 FF");
    ASSERT_EQ(card.Sw(Case3("00 20 00 00", Ascii("112233"))), 0x9000);
    EXPECT_EQ(card.Sw("00 22 81 B6 03 83 01 77"), 0x6A86);
    EXPECT_EQ(card.Sw(Case3("00 22 81 A4", H("83 01 77 7F 49 81 89"))), 0x6A80);
    EXPECT_EQ(card.Sw(install), 0x9000);

    card.Send("00 A4 00 00 02 3F 00 FF");
    card.Send("00 A4 02 04 02 45 00 FF");
    const Bytes record = card.Send("00 B2 05 04 00");
    EXPECT_EQ(SwOf(record), 0x9000);
    EXPECT_EQ(DataOf(record), Bytes(128, 0xC3));

    // The verification ends with the session.
    card->Reset();
    EXPECT_EQ(card.Sw(Case3("00 22 81 A4", MakerKeyData(0x11))), 0x6982);
    // Blocked PIN: 69 83.
    for (int i = 0; i < 3; ++i) {
        card.Send(Case3("00 20 00 00", Ascii("000000")));
    }
    EXPECT_EQ(card.Sw(install), 0x6983);
    // Cards without the command do not know the instruction.
    EXPECT_EQ(Fresh("tcos20").Sw(install), 0x6D00);
}

TEST(VirtualCardFiles, MalformedApdusAnswer6700AndLeaveTheCardWorking) {
    Card card = Fresh("tcos30");
    card.Send("00 A4 02 04 02 2F 02 FF");
    const struct {
        const char* apdu;
        uint16_t sw;
        const char* why;
    } cases[] = {
        {"", 0x6700, "empty"},
        {"00 B0 00", 0x6700, "shorter than a header"},
        {"00 A4 00 00 02 3F", 0x6700, "Lc 2 but one data byte"},
        {"00 A4 00 00 02 3F 00 FF FF", 0x6700, "two bytes after the data"},
        {"00 A4 00 00 00 02 3F 00", 0x6700, "extended length"},
        {"00 B0 00 00", 0x6700, "READ BINARY without Le"},
        {"00 B0 00 00 01 00 80", 0x6700, "READ BINARY with data"},
        {"00 B2 01 04", 0x6700, "READ RECORD without Le"},
        {"00 D6 00 00 80", 0x6700, "UPDATE BINARY without data"},
        {"00 20 00 00 80", 0x6700, "VERIFY with Le only"},
        {"00 20 00 00 01 31 00", 0x6700, "VERIFY with data and Le"},
        {"00 24 00 00", 0x6700, "CHANGE without data"},
        {"00 2C 00 00", 0x6700, "RESET RETRY COUNTER without data"},
        {"80 A4 00 00 02 3F 00", 0x6E00, "class byte"},
        {"00 CA 00 00 00", 0x6D00, "unknown instruction"},
        {"00 A5 00 00", 0x6D00, "odd instruction"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(card.Sw(c.apdu), c.sw) << c.why;
    }
    // Nothing above moved the selection or spent a PIN try.
    EXPECT_EQ(DataOf(card.Send("00 B0 00 00 02")), H("5A 0A"));
    EXPECT_EQ(card.Sw("00 20 00 00"), 0x6985);
}

} // namespace
} // namespace vcardtest
