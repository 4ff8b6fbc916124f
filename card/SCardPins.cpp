// PIN commands of SCard: verify, state query, change and unblock.

#include "card/SCard.h"

#include "card/CardType.h"

#include <openssl/crypto.h>

#include <cstring>

namespace {

constexpr uint8_t kVerify = 0x20;
constexpr uint8_t kChangeReferenceData = 0x24;
constexpr uint8_t kResetRetryCounter = 0x2C;

constexpr std::size_t kReferenceDataBuffer = 32;
// Micardo takes both values padded with 00 to 8 bytes each.
constexpr std::size_t kMicardoHalf = 8;
constexpr std::size_t kMicardoMinTotal = 12;
constexpr std::size_t kMicardoMaxTotal = 16;

// The command data holds PINs: secure memory, wiped on every way out.
class WipedBuffer {
public:
    WipedBuffer() = default;
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    bool Ok() const { return m_bytes.Ok(); }
    uint8_t* data() { return m_bytes.Data(); }

private:
    velk::SecureBuffer m_bytes{kReferenceDataBuffer};
};

void Put(uint8_t* buffer, std::size_t at, std::span<const uint8_t> value) {
    if (!value.empty()) {
        std::memcpy(buffer + at, value.data(), value.size());
    }
}

} // namespace

PinResult SCard::Verify(std::string_view path, uint8_t reference, std::string_view pin,
                        uint8_t& triesLeft) {
    if (SelectMF() != scard::kFileOk || SelectPath(path, false) != scard::kFileOk) {
        return scard::kPinFailed;
    }
    if (scard::IsCardOsFamily(m_cardType)) {
        return scard::kPinOk;
    }
    if (!scard::IsTcosFamily(m_cardType) && m_cardType != scard::kMicardo) {
        return scard::kPinFailed;
    }
    if (pin.size() > 0xFF) {
        return scard::kPinFailed;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(pin.data());
    const bool exchanged =
        Exchange(Case3, kVerify, 0x00, reference, static_cast<uint16_t>(pin.size()), 0, bytes);
    const auto outcome = scard::PinOutcomeOf(scard::PinCommand::Verify, exchanged, m_sw1, m_sw2);
    if (outcome.triesLeft) {
        triesLeft = *outcome.triesLeft;
    }
    return outcome.result;
}

PinResult SCard::SendReferenceData(uint8_t ins, std::string_view path, uint8_t reference,
                                   std::span<const uint8_t> first, std::span<const uint8_t> second,
                                   uint8_t& triesLeft) {
    if (SelectMF() != scard::kFileOk || SelectPath(path, false) != scard::kFileOk) {
        return scard::kPinFailed;
    }
    if (m_cardType == scard::kCardOs8 || m_cardType == scard::kUnknownCard) {
        return scard::kPinFailed;
    }
    const std::size_t total = first.size() + second.size();
    if (total > kReferenceDataBuffer) {
        return scard::kPinFailed;
    }
    WipedBuffer data;
    if (!data.Ok()) {
        return scard::kPinFailed;
    }
    uint16_t lc = 0;
    if (m_cardType == scard::kMicardo) {
        // Each value has a field of its own: a longer one would be cut at the
        // end of Lc or would overwrite the start of the other.
        if (total < kMicardoMinTotal || total > kMicardoMaxTotal || first.size() > kMicardoHalf ||
            second.size() > kMicardoHalf) {
            return scard::kPinFailed;
        }
        Put(data.data(), 0, first);
        Put(data.data(), kMicardoHalf, second);
        lc = 2 * kMicardoHalf;
    } else {
        Put(data.data(), 0, first);
        Put(data.data(), first.size(), second);
        lc = static_cast<uint16_t>(total);
    }
    const bool exchanged = Exchange(Case3, ins, 0x00, reference, lc, 0, data.data());
    const auto outcome =
        scard::PinOutcomeOf(scard::PinCommand::ChangeOrUnblock, exchanged, m_sw1, m_sw2);
    if (outcome.triesLeft) {
        triesLeft = *outcome.triesLeft;
    }
    return outcome.result;
}

PinResult SCard::ChangeReferenceData(std::string_view path, uint8_t reference,
                                     std::span<const uint8_t> oldValue,
                                     std::span<const uint8_t> newValue, uint8_t& triesLeft) {
    return SendReferenceData(kChangeReferenceData, path, reference, oldValue, newValue, triesLeft);
}

PinResult SCard::ResetRetryCounter(std::string_view path, uint8_t reference,
                                   std::span<const uint8_t> puk, std::span<const uint8_t> newPin,
                                   uint8_t& triesLeft) {
    return SendReferenceData(kResetRetryCounter, path, reference, puk, newPin, triesLeft);
}

PinResult SCard::GetPinStatus(std::string_view path, uint8_t reference) {
    SelectPath(path, false);
    const bool exchanged = Exchange(Case1, kVerify, 0x00, reference, 0, 0, nullptr);
    return scard::PinOutcomeOf(scard::PinCommand::Status, exchanged, m_sw1, m_sw2).result;
}

PinResult SCard::CardPin1Status() {
    return GetPinStatus("3f002f02", 0x00);
}

PinResult SCard::CardPin2Status() {
    return GetPinStatus("3f002f02", 0x01);
}

PinResult SCard::SigPin1Status() {
    return GetPinStatus("3f00df015049", 0x81);
}

PinResult SCard::SigPin2Status() {
    return GetPinStatus("3f00df015049", 0x83);
}
