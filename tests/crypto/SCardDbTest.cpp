// The smart-card database on a temp machine hive.

#include "platform/scarddb/SCardDb.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kMakerProvider = "Velkora Base Smart Card Crypto Provider";

std::vector<std::string> SplitMultiString(const char* list, DWORD length) {
    std::vector<std::string> names;
    DWORD pos = 0;
    while (pos < length && list[pos] != '\0') {
        names.emplace_back(list + pos);
        pos += static_cast<DWORD>(names.back().size()) + 1;
    }
    return names;
}

// What pcsc-lite's SCardFreeMemory does once it has checked the context
// (which needs a running pcscd): free().
void FreeLikePcscLite(void* block) {
    std::free(block);
}

// The card names for an ATR, through SCARD_AUTOALLOCATE as the program asks.
std::vector<std::string> CardsFor(const std::vector<uint8_t>& atr) {
    char* list = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result = SCardListCardsA(0, atr.empty() ? nullptr : atr.data(), nullptr, 0,
                                        reinterpret_cast<LPSTR>(&list), &length);
    EXPECT_EQ(result, SCARD_S_SUCCESS);
    if (result != SCARD_S_SUCCESS) {
        return {};
    }
    auto names = SplitMultiString(list, length);
    FreeLikePcscLite(list);
    return names;
}

const velk::CardType& Type(const std::string& name) {
    for (const auto& type : velk::KnownCardTypes()) {
        if (type.name == name) {
            return type;
        }
    }
    throw std::runtime_error("no card type " + name);
}

class SCardDbTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(velk::InstallCardTypes(), SCARD_S_SUCCESS); }
    TempHives m_hives;
};

TEST_F(SCardDbTest, CardsAreFoundByTheirAtrWithAndWithoutMaskBytes) {
    for (const auto& type : velk::KnownCardTypes()) {
        EXPECT_EQ(CardsFor(type.atr), std::vector<std::string>{type.name}) << type.name;
    }
    // T-COS 2.0: bytes 11 and 18 are masked out; byte 10 is not.
    std::vector<uint8_t> tcos20 = Type("Velkora MD - TCOS 2.0").atr;
    tcos20[11] = 0x61;
    tcos20[18] = 0x67;
    EXPECT_EQ(CardsFor(tcos20), std::vector<std::string>{"Velkora MD - TCOS 2.0"});
    tcos20[10] ^= 0x01;
    EXPECT_TRUE(CardsFor(tcos20).empty());
    std::vector<uint8_t> tcos30 = Type("Velkora MD - TCOS 3.0").atr;
    tcos30[11] ^= 0x01;
    EXPECT_TRUE(CardsFor(tcos30).empty());

    // One historical byte more or less: another length, no card.
    std::vector<uint8_t> longer = Type("Velkora MD - Micardo").atr;
    longer[1] = static_cast<uint8_t>(longer[1] + 1);
    longer.push_back(0x00);
    EXPECT_TRUE(CardsFor(longer).empty());
    std::vector<uint8_t> shorter = Type("Velkora MD - Micardo").atr;
    shorter[1] = static_cast<uint8_t>(shorter[1] - 1);
    shorter.pop_back();
    EXPECT_TRUE(CardsFor(shorter).empty());

    // The ATR as it sits in a reader-state record: a fixed buffer, junk after it.
    uint8_t record[MAX_ATR_SIZE];
    std::memset(record, 0xEE, sizeof record);
    const auto& v2 = Type("Velkora MD - TCOS 3.0 V2").atr;
    std::memcpy(record, v2.data(), v2.size());
    EXPECT_EQ(CardsFor(std::vector<uint8_t>(record, record + sizeof record)),
              std::vector<std::string>{"Velkora MD - TCOS 3.0 V2"});

    // No ATR: every card type, in name order.
    const auto all = CardsFor({});
    EXPECT_EQ(all.size(), velk::KnownCardTypes().size());
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
}

TEST_F(SCardDbTest, CallerBuffersAndEmptyAnswers) {
    const auto& atr = Type("Velkora MD - TCOS 3.0").atr;
    DWORD length = 0;
    ASSERT_EQ(SCardListCardsA(0, atr.data(), nullptr, 0, nullptr, &length), SCARD_S_SUCCESS);
    EXPECT_EQ(length, std::strlen("Velkora MD - TCOS 3.0") + 2);
    std::vector<char> buffer(length);
    DWORD tooSmall = length - 1;
    EXPECT_EQ(SCardListCardsA(0, atr.data(), nullptr, 0, buffer.data(), &tooSmall),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(tooSmall, length);
    ASSERT_EQ(SCardListCardsA(0, atr.data(), nullptr, 0, buffer.data(), &length), SCARD_S_SUCCESS);
    EXPECT_STREQ(buffer.data(), "Velkora MD - TCOS 3.0");
    EXPECT_EQ(buffer[length - 1], '\0');

    const std::vector<uint8_t> unknown{0x3B, 0x02, 0x14, 0x50};
    char empty[4] = {'x', 'x', 'x', 'x'};
    length = sizeof empty;
    ASSERT_EQ(SCardListCardsA(0, unknown.data(), nullptr, 0, empty, &length), SCARD_S_SUCCESS);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(empty[0], '\0');
    EXPECT_EQ(SCardListCardsA(0, unknown.data(), nullptr, 0, nullptr, nullptr),
              SCARD_E_INVALID_PARAMETER);
    length = SCARD_AUTOALLOCATE;
    EXPECT_EQ(SCardListCardsA(0, unknown.data(), nullptr, 0, nullptr, &length),
              SCARD_E_INVALID_PARAMETER);
    // A malformed ATR (TS neither 3B nor 3F) is no card.
    const std::vector<uint8_t> malformed{0x12, 0x00};
    EXPECT_TRUE(CardsFor(malformed).empty());
}

TEST_F(SCardDbTest, ProviderNamesByCardType) {
    char* provider = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    ASSERT_EQ(SCardGetCardTypeProviderNameA(0, "Velkora MD - Micardo", SCARD_PROVIDER_CSP,
                                            reinterpret_cast<LPSTR>(&provider), &length),
              SCARD_S_SUCCESS);
    EXPECT_STREQ(provider, kMakerProvider);
    EXPECT_EQ(length, std::strlen(kMakerProvider) + 1);
    FreeLikePcscLite(provider);

    char buffer[128];
    length = sizeof buffer;
    ASSERT_EQ(SCardGetCardTypeProviderNameA(0, "velkora md - tcos 2.0", SCARD_PROVIDER_CSP, buffer,
                                            &length),
              SCARD_S_SUCCESS);
    EXPECT_STREQ(buffer, kMakerProvider);
    length = sizeof buffer;
    ASSERT_EQ(SCardGetCardTypeProviderNameA(0, "Other Card", SCARD_PROVIDER_CSP, buffer, &length),
              SCARD_S_SUCCESS);
    EXPECT_STRNE(buffer, kMakerProvider);
    length = 5;
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "Other Card", SCARD_PROVIDER_CSP, buffer, &length),
              SCARD_E_INSUFFICIENT_BUFFER);

    length = sizeof buffer;
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "Unknown Card", SCARD_PROVIDER_CSP, buffer, &length),
              SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "Velkora MD - Micardo", SCARD_PROVIDER_KSP, buffer,
                                            &length),
              SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "A\\B", SCARD_PROVIDER_CSP, buffer, &length),
              SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "Other Card", 77, buffer, &length),
              SCARD_E_INVALID_PARAMETER);

    EXPECT_EQ(SCardForgetCardTypeA(0, "Other Card"), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardGetCardTypeProviderNameA(0, "Other Card", SCARD_PROVIDER_CSP, buffer, &length),
              SCARD_E_UNKNOWN_CARD);
}

TEST(SCardDbEmptyTest, NoMachineHiveMeansNoCards) {
    TempHives hives;
    EXPECT_TRUE(CardsFor({0x3B, 0x02, 0x14, 0x50}).empty());
    EXPECT_TRUE(CardsFor({}).empty());
}

TEST(AtrLengthTest, LengthComesFromTheAtrsOwnStructure) {
    for (const auto& type : velk::KnownCardTypes()) {
        uint8_t buffer[MAX_ATR_SIZE] = {};
        std::memcpy(buffer, type.atr.data(), type.atr.size());
        EXPECT_EQ(velk::AtrLength(buffer, sizeof buffer), type.atr.size()) << type.name;
        EXPECT_EQ(velk::AtrLength(type.atr.data(), type.atr.size() - 1), 0u) << type.name;
    }
    // T=0 only: no check byte.
    const uint8_t t0[] = {0x3B, 0x02, 0x14, 0x50};
    EXPECT_EQ(velk::AtrLength(t0, sizeof t0), 4u);
    // TD1 announces more interface bytes than there are.
    const uint8_t cut[] = {0x3B, 0x80};
    EXPECT_EQ(velk::AtrLength(cut, sizeof cut), 0u);
    EXPECT_EQ(velk::AtrLength(nullptr, 10), 0u);
}

} // namespace
