#include "minidriver/md/CardKeyOperation.h"

#include "card/SCard.h"

#include <openssl/crypto.h>

#include <array>
#include <cstdio>
#include <string>

namespace velkmd {

namespace {

constexpr uint8_t kMse = 0x22;
constexpr uint8_t kPso = 0x2A;
constexpr uint8_t kChaining = 0x10;
// Short APDUs carry at most 255 bytes; longer data goes in parts.
constexpr std::size_t kPart = 0xF0;

KeyResult ResultOf(const SCard& card, bool exchanged) {
    if (!exchanged) {
        return KeyResult::CardGone;
    }
    const uint16_t sw = static_cast<uint16_t>(card.Sw1() << 8 | card.Sw2());
    switch (sw) {
    case 0x9000:
        return KeyResult::Ok;
    case 0x6982:
        return KeyResult::NotLoggedIn;
    case 0x6700:
    case 0x6A80:
        return KeyResult::BadInput;
    case 0x6985:
        return KeyResult::NotSupported;
    default:
        return KeyResult::Failed;
    }
}

// Selects the key file (and so its DF) and names its key for the control
// reference template `crt` (B6 sign, B8 decipher).
KeyResult SetEnvironment(SCard& card, const CardSlot& slot, uint8_t crt) {
    char path[16] = {};
    std::snprintf(path, sizeof path, "3f00%04x%04x", static_cast<unsigned>(slot.df),
                  static_cast<unsigned>(slot.keyFid));
    if (slot.keyFid == 0 || card.SelectPath(path, true) != scard::kFileOk) {
        return card.Connected() ? KeyResult::Failed : KeyResult::CardGone;
    }
    const std::array<uint8_t, 6> data{0x84, 0x01, static_cast<uint8_t>(slot.keyFid & 0xFF),
                                      0x80, 0x01, 0x02};
    card.SetCommand(SCard::Case3, 0x00, kMse, 0x41, crt, data.size(), 0, data.data(), data.size());
    return ResultOf(card, card.Transmit());
}

// PSO with `data` in as many chained parts as it needs; the answer of the
// last part in `out`.
KeyResult PerformSecurityOperation(SCard& card, uint8_t p1, uint8_t p2,
                                   std::span<const uint8_t> data, std::vector<uint8_t>& out) {
    std::size_t offset = 0;
    while (data.size() - offset > kPart) {
        const auto part = data.subspan(offset, kPart);
        card.SetCommand(SCard::Case3, kChaining, kPso, p1, p2, static_cast<uint16_t>(part.size()),
                        0, part.data(), static_cast<uint16_t>(part.size()));
        const KeyResult result = ResultOf(card, card.Transmit());
        if (result != KeyResult::Ok) {
            return result;
        }
        offset += part.size();
    }
    const auto last = data.subspan(offset);
    card.SetCommand(SCard::Case4, 0x00, kPso, p1, p2, static_cast<uint16_t>(last.size()), 0x100,
                    last.data(), static_cast<uint16_t>(last.size()));
    const KeyResult result = ResultOf(card, card.Transmit());
    if (result == KeyResult::Ok) {
        const auto response = card.Response();
        out.assign(response.begin(), response.end());
    }
    return result;
}

} // namespace

const PinTarget* KeyPinOf(const CardSlot& slot) {
    return slot.authority ? nullptr : PinTargetOf(slot.selector);
}

PinResult VerifyKeyPin(SCard& card, const CardSlot& slot, std::span<const uint8_t> pin,
                       uint8_t& triesLeft) {
    const PinTarget* target = KeyPinOf(slot);
    if (target == nullptr) {
        return scard::kPinFailed;
    }
    const std::string_view text(reinterpret_cast<const char*>(pin.data()), pin.size());
    return card.Verify(target->path, target->reference, text, triesLeft);
}

KeyResult SignOnCard(SCard& card, const CardSlot& slot, std::span<const uint8_t> digestInfo,
                     std::vector<uint8_t>& signature) {
    signature.clear();
    if (const KeyResult set = SetEnvironment(card, slot, 0xB6); set != KeyResult::Ok) {
        return set;
    }
    return PerformSecurityOperation(card, 0x9E, 0x9A, digestInfo, signature);
}

KeyResult DecipherOnCard(SCard& card, const CardSlot& slot, std::span<const uint8_t> cryptogram,
                         std::vector<uint8_t>& plain) {
    plain.clear();
    if (const KeyResult set = SetEnvironment(card, slot, 0xB8); set != KeyResult::Ok) {
        return set;
    }
    // The padding indicator 00 comes before the cryptogram.
    std::vector<uint8_t> data;
    data.reserve(cryptogram.size() + 1);
    data.push_back(0x00);
    data.insert(data.end(), cryptogram.begin(), cryptogram.end());
    return PerformSecurityOperation(card, 0x80, 0x86, data, plain);
}

} // namespace velkmd
