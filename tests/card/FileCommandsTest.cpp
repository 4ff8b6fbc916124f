// Selection, reading and writing of files: the APDUs as they reach the card.

#include "tests/card/CardFixture.h"

#include "card/CardType.h"

#include <numeric>

using namespace cardtest;
using Apdus = std::vector<std::vector<uint8_t>>;

namespace {

Apdus Of(std::initializer_list<std::string_view> hex) {
    Apdus apdus;
    for (auto h : hex) {
        apdus.push_back(Hex(h));
    }
    return apdus;
}

// A dedicated file that is not found on any of the three tries, with the
// master file selected in between.
void NotFoundThreeTimes(ScriptedCard& endpoint) {
    for (const char* sw : {"6A 82", "90 00", "6A 82", "90 00", "6A 82"}) {
        endpoint.Then(sw);
    }
}

} // namespace

TEST_F(CardTest, SelectionFormsOfEveryCardType) {
    struct Expect {
        const std::vector<uint8_t>* atr;
        bool t1;
        const char* mf;
        const char* df;
        const char* ef; // nullptr: no form, nothing sent
    };
    const Expect table[] = {
        {&kAtrTcos20, true, "00 A4 00 00 02 3F 00 FF", "00 A4 01 00 02 DF 01 FF",
         "00 A4 02 00 02 C0 00 FF"},
        {&kAtrTcos30, true, "00 A4 00 00 02 3F 00 FF", "00 A4 01 04 02 DF 01 FF",
         "00 A4 02 04 02 C0 00 FF"},
        {&kAtrTcos30V2, true, "00 A4 00 00 02 3F 00 FF", "00 A4 01 04 02 DF 01 FF",
         "00 A4 02 00 02 C0 00 FF"},
        {&kAtrMicardo, false, "00 A4 00 00 00", "00 A4 01 00 02 DF 01", "00 A4 02 00 02 C0 00"},
        {&kAtrCardOs4, true, "00 A4 00 00 00", "00 A4 08 04 02 DF 01 FF", nullptr},
        {&kAtrCardOs8, true, "00 A4 00 00 00", "00 A4 08 04 02 DF 01 FF", nullptr},
    };
    for (const Expect& e : table) {
        SCard& card = Reinsert(*e.atr, e.t1);
        EXPECT_EQ(card.SelectMF(), 0);
        EXPECT_EQ(card.SelectDF(0xDF01), 0);
        EXPECT_EQ(card.SelectEF(0xC000), 0);
        Apdus expected = Of({e.mf, e.df});
        if (e.ef != nullptr) {
            expected.push_back(Hex(e.ef));
        }
        EXPECT_EQ(Sent(), expected) << "card type " << card.CardType();
    }
}

TEST_F(CardTest, SelectedDedicatedFilesAreNotSelectedAgain) {
    Insert(kAtrTcos30);
    SCard& card = Connect();

    // From the master file: DF01 then the EF; DF01 is remembered, the EF not.
    EXPECT_EQ(card.SelectPath("3f00df015049", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 01 04 02 DF 01 FF", "00 A4 02 04 02 50 49 FF"}));
    EXPECT_EQ(std::vector<uint8_t>(card.SelectedPath().begin(), card.SelectedPath().end()),
              Hex("3F00 DF01"));

    // Another EF of DF01, written with separators: only SELECT EF.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.SelectPath(" 3F00 / DF01 : C000 ", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 02 04 02 C0 00 FF"}));

    // Back to the master file.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.SelectPath("3f00", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 00 00 02 3F 00 FF"}));

    // An EF of the MF, then a signature PIN path: DF01 and the EF.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.SelectPath("3f002f02", false), 0);
    EXPECT_EQ(card.SelectPath("3f00df015049", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 02 04 02 2F 02 FF", "00 A4 01 04 02 DF 01 FF",
                          "00 A4 02 04 02 50 49 FF"}));

    // From the master file on request, even with DF01 selected.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.SelectPath("3f00/df01:c000", true), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 00 00 02 3F 00 FF", "00 A4 01 04 02 DF 01 FF",
                          "00 A4 02 04 02 C0 00 FF"}));

    // Malformed text selects nothing.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.SelectPath("3f00dx01", false), 255);
    EXPECT_EQ(card.SelectPath("", false), 255);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CardTest, DedicatedFileNotFoundIsTriedThreeTimes) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    NotFoundThreeTimes(endpoint);
    EXPECT_EQ(card.SelectDF(0xDF02), 255);
    EXPECT_EQ(Sent(),
              Of({"00 A4 01 04 02 DF 02 FF", "00 A4 00 00 02 3F 00 FF", "00 A4 01 04 02 DF 02 FF",
                  "00 A4 00 00 02 3F 00 FF", "00 A4 01 04 02 DF 02 FF"}));

    // Found at the second try; the path then names the MF and the DF only.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("6A 82");
    EXPECT_EQ(card.SelectPath("3f00df01c000", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 01 04 02 DF 01 FF", "00 A4 00 00 02 3F 00 FF",
                          "00 A4 01 04 02 DF 01 FF", "00 A4 02 04 02 C0 00 FF"}));

    // Other errors stop at once; an EF is never repeated.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("6A 87");
    EXPECT_EQ(card.SelectDF(0xDF02), 2);
    endpoint.Then("67 00");
    EXPECT_EQ(card.SelectDF(0xDF02), 1);
    endpoint.Then("6A 82");
    EXPECT_EQ(card.SelectEF(0x4531), 255);
    endpoint.Then("62 82");
    EXPECT_EQ(card.SelectEF(0x4531), 255); // selections do not know 62 82
    EXPECT_EQ(Sent().size(), 4u);
}

TEST_F(CardTest, CardOsReportsTheDedicatedFileResultForTheElementaryFile) {
    auto& endpoint = Insert(kAtrCardOs4);
    SCard& card = Connect();
    EXPECT_EQ(card.SelectPath("3f00df01c000", false), 0);
    EXPECT_EQ(Sent(), Of({"00 A4 08 04 02 DF 01 FF"}));

    pcscsim::ClearTrace(kReader);
    SCard again(kReader);
    NotFoundThreeTimes(endpoint);
    EXPECT_EQ(again.SelectPath("3f00df05c000", false), 255);
}

TEST_F(CardTest, ReadFileFollowsTheSizeInTheSelectionAnswer) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    std::vector<uint8_t> file(300);
    std::iota(file.begin(), file.end(), 0);
    std::vector<uint8_t> buffer(1024, 0xEE);
    uint16_t length = 99;
    ASSERT_EQ(card.SelectPath("3f00df015049", false), 0); // DF01 stays selected
    pcscsim::ClearTrace(kReader);

    // Size 0: no READ BINARY at all.
    endpoint.Then("62 06 80 02 00 00 82 01 01 90 00");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    EXPECT_EQ(card.ReadFile(buffer, length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Sent().size(), 1u);

    // 300 bytes in three reads.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("62 06 80 02 01 2C 82 01 01 90 00");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    for (std::size_t offset = 0; offset < file.size(); offset += 128) {
        auto block = std::vector<uint8_t>(
            file.begin() + static_cast<long>(offset),
            file.begin() + static_cast<long>(std::min(file.size(), offset + 128)));
        block.push_back(0x90);
        block.push_back(0x00);
        endpoint.Then(block);
    }
    EXPECT_EQ(card.ReadFile(buffer, length), 0);
    ASSERT_EQ(length, 300);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), buffer.begin()));
    EXPECT_EQ(buffer[300], 0xEE);
    EXPECT_EQ(Sent(), Of({"00 A4 02 04 02 C0 00 FF", "00 B0 00 00 80", "00 B0 00 80 80",
                          "00 B0 01 00 80"}));

    // End of file after 12 bytes: nothing more is sent.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("62 06 80 02 01 00 82 01 01 90 00");
    endpoint.Then("01 02 03 04 05 06 07 08 09 0A 0B 0C 62 82");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    EXPECT_EQ(card.ReadFile(buffer, length), 0);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(buffer[11], 0x0C);
    EXPECT_EQ(Sent().size(), 2u);

    // An error in the middle fails the read.
    endpoint.Then("62 06 80 02 01 00 82 01 01 90 00");
    endpoint.Then(ScriptedCard::Block(128, 0x11));
    endpoint.Then("69 82");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    EXPECT_EQ(card.ReadFile(buffer, length), 255);
}

TEST_F(CardTest, ReadFileNeverOverrunsTheBufferNorLoopsForever) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    uint16_t length = 0;
    ASSERT_EQ(card.SelectPath("3f00df015049", false), 0); // DF01 stays selected

    // The card claims 4096 bytes; the buffer holds 100.
    std::array<uint8_t, 100> small{};
    endpoint.Then("62 06 80 02 10 00 82 01 01 90 00");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    endpoint.Fallback(ScriptedCard::Block(128, 0x55));
    EXPECT_EQ(card.ReadFile(small, length), 255);

    // 90 00 without data before the end.
    endpoint.Fallback(Hex("90 00"));
    endpoint.Then("62 06 80 02 10 00 82 01 01 90 00");
    ASSERT_EQ(card.SelectPath("3f00df01c000", false), 0);
    std::vector<uint8_t> big(4096);
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.ReadFile(big, length), 255);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(CardTest, ReadRecordHandsOverTheRecord) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    std::array<uint8_t, 256> out{};
    uint16_t length = 0;
    endpoint.Then("AA BB CC 90 00");
    EXPECT_EQ(card.ReadRecord(5, out, length), 0);
    EXPECT_EQ(length, 3);
    endpoint.Then("DD 62 82");
    EXPECT_EQ(card.ReadRecord(1, out, length), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(out[0], 0xDD);
    endpoint.Then("6A 83");
    EXPECT_EQ(card.ReadRecord(9, out, length), 255);
    EXPECT_EQ(Sent(), Of({"00 B2 05 04 00", "00 B2 01 04 00", "00 B2 09 04 00"}));

    // A record larger than the caller's buffer is refused, not cut.
    std::array<uint8_t, 2> tiny{};
    endpoint.Then("AA BB CC 90 00");
    EXPECT_EQ(card.ReadRecord(5, tiny, length), 255);
    EXPECT_EQ(length, 0);
}

TEST_F(CardTest, WriteFileSendsBlocksOf128Bytes) {
    auto& endpoint = Insert(kAtrTcos30);
    SCard& card = Connect();
    std::vector<uint8_t> data(300);
    std::iota(data.begin(), data.end(), 1);
    EXPECT_EQ(card.WriteFile(data), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    const std::pair<const char*, std::size_t> heads[] = {
        {"00 D6 00 00 80", 0}, {"00 D6 00 80 80", 128}, {"00 D6 01 00 2C", 256}};
    for (std::size_t i = 0; i < 3; ++i) {
        auto expected = Hex(heads[i].first);
        const std::size_t offset = heads[i].second;
        const std::size_t n = std::min<std::size_t>(128, data.size() - offset);
        expected.insert(expected.end(), data.begin() + static_cast<long>(offset),
                        data.begin() + static_cast<long>(offset + n));
        EXPECT_EQ(sent[i], expected) << "block " << i;
    }

    // The first failing block ends the write.
    pcscsim::ClearTrace(kReader);
    endpoint.Then("90 00");
    endpoint.Then("6A 87");
    EXPECT_EQ(card.WriteFile(data), 255);
    EXPECT_EQ(Sent().size(), 2u);

    // Offsets have 15 bits: a larger file is refused before anything is sent.
    pcscsim::ClearTrace(kReader);
    EXPECT_EQ(card.WriteFile(std::vector<uint8_t>(32769)), 255);
    EXPECT_EQ(card.UpdateBinary(0, std::vector<uint8_t>(129)), 255);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(card.UpdateBinary(0x8100, Hex("01")), 0);
    EXPECT_EQ(Sent(), Of({"00 D6 01 00 01 01"}));
}
