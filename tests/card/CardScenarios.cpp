#include "tests/card/CardScenarios.h"

#include "card/CardType.h"
#include "card/SCard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

namespace cardtest {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

const std::vector<uint8_t> kNullPin(6, 0x00);
const char kGdo[] = "3f002f02";
const char kSigFile[] = "3f00df01c000";

bool LooksLikeCardNumber(const std::string& number) {
    return number.size() == 19 && number.rfind("8949", 0) == 0 &&
           std::all_of(number.begin(), number.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::vector<uint8_t> Certificate() {
    std::vector<uint8_t> data(4096);
    std::iota(data.begin(), data.end(), 7);
    data[0] = 0x30;
    data[1] = 0x82;
    return data;
}

} // namespace

void ReadsTheCardNumber(const std::string& reader) {
    std::string first;
    {
        SCard card(reader);
        ASSERT_EQ(card.CardType(), scard::kTcos30);
        first = card.ReadCardNumber();
        EXPECT_TRUE(LooksLikeCardNumber(first)) << first;
    }
    SCard card(reader);
    EXPECT_EQ(card.ReadCardNumber(), first);
    EXPECT_EQ(card.ReadCardNumber(), first); // the MF is selected again after each read
}

void ManagesTheCardPins(const std::string& reader) {
    uint8_t tries = 0;
    {
        SCard card(reader);
        EXPECT_EQ(card.CardPin1Status(), 4); // NULL-PIN
        EXPECT_EQ(card.CardPin2Status(), 0); // not set yet
        EXPECT_EQ(card.Verify(kSigFile, 0x00, "123456", tries), 4);
    }
    {
        SCard card(reader);
        EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, kNullPin, Bytes("123456"), tries), 0);
        EXPECT_EQ(card.CardPin1Status(), 3);
    }
    {
        SCard card(reader);
        EXPECT_EQ(card.Verify(kSigFile, 0x00, "999999", tries), 255);
        EXPECT_EQ(tries, 2);
        EXPECT_EQ(card.Verify(kSigFile, 0x00, "123456", tries), 0);
        EXPECT_EQ(tries, 3);
    }
    {
        SCard card(reader);
        EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, Bytes("123456"), Bytes("654321"), tries), 0);
        // PIN2 gets its first value by an unblock with PIN1.
        EXPECT_EQ(card.ResetRetryCounter(kGdo, 0x01, Bytes("654321"), Bytes("87654321"), tries), 0);
        EXPECT_EQ(card.CardPin2Status(), 3);
    }
    {
        SCard card(reader);
        for (int expected : {2, 1, 0}) {
            EXPECT_EQ(card.Verify(kSigFile, 0x00, "000000", tries), 255);
            EXPECT_EQ(tries, expected);
        }
        EXPECT_EQ(card.Verify(kSigFile, 0x00, "654321", tries), 6); // blocked
        EXPECT_EQ(card.CardPin1Status(), 6);
        EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, Bytes("654321"), Bytes("111111"), tries), 5);
    }
    {
        SCard card(reader);
        EXPECT_EQ(card.ResetRetryCounter(kGdo, 0x00, Bytes("87654321"), Bytes("111111"), tries), 0);
        EXPECT_EQ(card.Verify(kSigFile, 0x00, "111111", tries), 0);
        EXPECT_EQ(card.CardPin1Status(), 3);
    }
}

void BreaksTheSignatureNullPin(const std::string& reader) {
    uint8_t tries = 0;
    SCard card(reader);
    EXPECT_EQ(card.SigPin1Status(), 4);
    EXPECT_EQ(card.SigPin2Status(), 0);
    EXPECT_EQ(card.ChangeReferenceData(kSigFile, 0x81, kNullPin, Bytes("222222"), tries), 0);
    EXPECT_EQ(card.SigPin1Status(), 3);
    EXPECT_EQ(card.Verify("3f00df015049", 0x81, "222222", tries), 0);
    EXPECT_EQ(card.SigPin1Status(), 3);
}

void InstallsAndChecksTheMakerKey(const std::string& reader) {
    uint8_t tries = 0;
    {
        SCard card(reader);
        EXPECT_FALSE(card.HasMakerKey());
        // Refused while PIN 0 is not verified.
        EXPECT_EQ(card.WriteMakerKey(), 4); // NULL-PIN still set
        ASSERT_EQ(card.ChangeReferenceData(kGdo, 0x00, kNullPin, Bytes("123456"), tries), 0);
        EXPECT_EQ(card.WriteMakerKey(), 8);
    }
    {
        // As the program does it: verify PIN 0 on the signature file, then install.
        SCard card(reader);
        ASSERT_EQ(card.Verify(kSigFile, 0x00, "123456", tries), 0);
        EXPECT_EQ(card.WriteMakerKey(), 0);
    }
    SCard card(reader);
    EXPECT_TRUE(card.HasMakerKey());
}

void WritesAndReadsBackACertificateFile(const std::string& reader) {
    const auto certificate = Certificate();
    {
        SCard card(reader);
        ASSERT_EQ(card.SelectPath(kSigFile, true), 0);
        EXPECT_EQ(card.GetFileSize(), 4096);
        EXPECT_EQ(card.WriteFile(certificate), 0);
    }
    SCard card(reader);
    ASSERT_EQ(card.SelectPath(kSigFile, true), 0);
    std::vector<uint8_t> back(4096);
    uint16_t length = 0;
    ASSERT_EQ(card.ReadFile(back, length), 0);
    EXPECT_EQ(length, 4096);
    EXPECT_EQ(back, certificate);

    // A file larger than the card's is refused by the card, and so by WriteFile.
    ASSERT_EQ(card.SelectPath(kSigFile, true), 0);
    EXPECT_EQ(card.WriteFile(std::vector<uint8_t>(4097, 0x30)), 255);
}

void FailsCleanlyWhenTheCardGoesMidWrite(const std::string& reader,
                                         const std::function<void()>& pull) {
    const auto certificate = Certificate();
    SCard card(reader);
    ASSERT_EQ(card.SelectPath(kSigFile, true), 0);
    std::atomic<bool> pulled{false};
    std::thread puller([&] {
        pull();
        pulled = true;
    });
    // Writes until one fails; the one running when the card goes, or at the
    // latest the first after it.
    int failures = 0;
    for (;;) {
        const bool after = pulled;
        const uint8_t result = card.WriteFile(certificate);
        if (result != 0) {
            EXPECT_EQ(result, 255);
            ++failures;
            break;
        }
        ASSERT_FALSE(after) << "a write succeeded after the card was gone";
    }
    puller.join();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(card.WriteFile(certificate), 255);
    EXPECT_EQ(card.SelectMF(), 255);
    EXPECT_EQ(card.Sw1(), 0);
}

void MicardoChangesPinsWithPaddedFields(const std::string& reader) {
    uint8_t tries = 0;
    SCard card(reader);
    ASSERT_EQ(card.CardType(), scard::kMicardo);
    EXPECT_EQ(card.ReadCardNumber(), "0000000000000000000");
    EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, Bytes("1234"), Bytes("5678"), tries), 255);
    // A value longer than its 8-byte field never reaches the card: cut, it would set a PIN
    // nobody typed, or its ninth byte would be overwritten and a wrong old PIN pass.
    EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, Bytes("123456"), Bytes("987654321"), tries),
              255);
    EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x01, Bytes("123456789"), Bytes("abcdef"), tries),
              255);
    EXPECT_EQ(card.ResetRetryCounter(kGdo, 0x00, Bytes("123456789"), Bytes("abcd"), tries), 255);
    EXPECT_EQ(card.Verify(kGdo, 0x01, "123456789", tries), 255);
    EXPECT_EQ(card.CardPin2Status(), 3) << "a PIN too long for the card costs no retry";
    EXPECT_EQ(card.Verify(kGdo, 0x01, "12345678", tries), 0);
    EXPECT_EQ(card.ChangeReferenceData(kGdo, 0x00, Bytes("123456"), Bytes("654321"), tries), 0);
    EXPECT_EQ(card.Verify(kGdo, 0x00, "654321", tries), 0);
    EXPECT_EQ(card.Verify(kGdo, 0x00, "123456", tries), 255);
    EXPECT_EQ(tries, 2);
    EXPECT_FALSE(card.UsesT1());
}

void CardOsAnswersWithoutTcosCommands(const std::string& reader) {
    uint8_t tries = 0;
    SCard card(reader);
    ASSERT_TRUE(scard::IsCardOsFamily(card.CardType()));
    EXPECT_EQ(card.ReadCardNumber(), "0000000000000000000");
    EXPECT_EQ(card.Verify(kSigFile, 0x00, "nothing sent", tries), 0);
    EXPECT_FALSE(card.HasMakerKey());
    EXPECT_EQ(card.WriteMakerKey(), 0);
}

void Tcos20ReadsTheCardNumber(const std::string& reader) {
    SCard card(reader);
    ASSERT_EQ(card.CardType(), scard::kTcos20);
    EXPECT_TRUE(LooksLikeCardNumber(card.ReadCardNumber()));
    EXPECT_EQ(card.CardPin1Status(), 4);
}

} // namespace cardtest
