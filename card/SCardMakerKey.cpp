// Installation and check of the maker's RSA public key on T-COS 3.0 cards.

#include "card/SCard.h"

#include "card/CardType.h"
#include "card/MakerKey.h"

#include <algorithm>
#include <array>

namespace {

constexpr uint8_t kManageSecurityEnvironment = 0x22;
constexpr std::size_t kKeyDataSize = 143;

// 83 01 77: key reference 77. 7F 49 81 89: the public key template, its
// length written as 137 although 136 bytes follow, which is what the cards
// expect. 81 81 80 + modulus, 82 03 01 00 01: exponent 65537.
std::array<uint8_t, kKeyDataSize> MakerKeyData() {
    std::array<uint8_t, kKeyDataSize> data{};
    constexpr uint8_t kHead[] = {0x83, 0x01, 0x77, 0x7F, 0x49, 0x81, 0x89, 0x81, 0x81, 0x80};
    constexpr uint8_t kTail[] = {0x82, 0x03, 0x01, 0x00, 0x01};
    auto it = std::copy(std::begin(kHead), std::end(kHead), data.begin());
    it = std::copy(scard::kMakerModulus.begin(), scard::kMakerModulus.end(), it);
    std::copy(std::begin(kTail), std::end(kTail), it);
    return data;
}

} // namespace

PinResult SCard::WriteMakerKey() {
    if (m_cardType != scard::kTcos30 && m_cardType != scard::kTcos30V2) {
        return scard::kPinOk;
    }
    // Acts in the DF selected before (the caller verified PIN 0 in DF01).
    const auto data = MakerKeyData();
    const bool exchanged = Exchange(Case3, kManageSecurityEnvironment, 0x81, 0xA4,
                                    static_cast<uint16_t>(data.size()), 0, data.data());
    return scard::PinOutcomeOf(scard::PinCommand::MakerKey, exchanged, m_sw1, m_sw2).result;
}

bool SCard::HasMakerKey() {
    SelectMF();
    if (SelectPath("3f004500", false) != scard::kFileOk) {
        return false;
    }
    std::array<uint8_t, kResponseCapacity> record{};
    uint16_t length = 0;
    if (ReadRecord(5, record, length) != scard::kFileOk || length < scard::kMakerModulusSize) {
        return false;
    }
    return std::equal(scard::kMakerModulus.begin(), scard::kMakerModulus.end(), record.begin());
}
