// Transparent and record files of SCard, and the card number from EF.GDO.

#include "card/SCard.h"

#include "card/CardType.h"

#include <array>
#include <cstdio>

namespace {

constexpr uint8_t kReadBinary = 0xB0;
constexpr uint8_t kReadRecord = 0xB2;
constexpr uint8_t kUpdateBinary = 0xD6;
constexpr std::size_t kBlock = 128;
// The last block of a file may start at 32,640: offsets have 15 bits.
constexpr std::size_t kMaxWritableFile = 32768;

const char kNoCardNumber[] = "0000000000000000000";
constexpr std::size_t kCardNumberDigits = 19;

uint8_t OffsetHigh(uint16_t offset) {
    return static_cast<uint8_t>((offset >> 8) & 0x7F);
}

uint8_t OffsetLow(uint16_t offset) {
    return static_cast<uint8_t>(offset & 0xFF);
}

bool ServesFiles(uint32_t type) {
    return scard::IsTcosFamily(type) || type == scard::kMicardo;
}

// Whatever happens inside, the card number read ends in the master file.
class BackToMasterFile {
public:
    explicit BackToMasterFile(SCard& card) : m_card(card) {}
    ~BackToMasterFile() { m_card.SelectPath("3f00", false); }
    BackToMasterFile(const BackToMasterFile&) = delete;
    BackToMasterFile& operator=(const BackToMasterFile&) = delete;

private:
    SCard& m_card;
};

} // namespace

uint8_t SCard::ReadBinary(uint16_t offset, std::span<uint8_t> out, uint16_t& outLength) {
    outLength = 0;
    uint8_t result = scard::kFileFailed;
    if (ServesFiles(m_cardType)) {
        if (!Exchange(Case2, kReadBinary, OffsetHigh(offset), OffsetLow(offset), 0, 0x80,
                      nullptr)) {
            return scard::kFileFailed;
        }
        result = scard::FileResult(m_sw1, m_sw2, true);
    } else if (scard::IsCardOsFamily(m_cardType)) {
        result = NoFormResult(true);
    } else {
        return scard::kFileFailed;
    }
    if (result == scard::kFileOk || result == scard::kFileEndReached) {
        if (!TakeResponse(out, outLength)) {
            return scard::kFileFailed;
        }
    }
    return result;
}

uint8_t SCard::ReadFile(std::span<uint8_t> out, uint16_t& outLength) {
    outLength = 0;
    const std::size_t size = GetFileSize();
    std::size_t offset = 0;
    while (offset < size) {
        uint16_t got = 0;
        const uint8_t result = ReadBinary(static_cast<uint16_t>(offset), out.subspan(offset), got);
        if (result != scard::kFileOk && result != scard::kFileEndReached) {
            return scard::kFileFailed;
        }
        if (got == 0 && result == scard::kFileOk) {
            return scard::kFileFailed; // no progress: the loop would never end
        }
        offset += got;
        if (offset > UINT16_MAX) {
            return scard::kFileFailed;
        }
        if (result == scard::kFileEndReached) {
            break;
        }
    }
    outLength = static_cast<uint16_t>(offset);
    return scard::kFileOk;
}

uint8_t SCard::ReadRecord(uint8_t record, std::span<uint8_t> out, uint16_t& outLength) {
    outLength = 0;
    uint8_t result = scard::kFileFailed;
    if (ServesFiles(m_cardType)) {
        if (!Exchange(Case2, kReadRecord, record, 0x04, 0, 0x00, nullptr)) {
            return scard::kFileFailed;
        }
        result = scard::FileResult(m_sw1, m_sw2, true);
    } else if (scard::IsCardOsFamily(m_cardType)) {
        result = NoFormResult(true);
    }
    if (result != scard::kFileOk && result != scard::kFileEndReached) {
        return scard::kFileFailed;
    }
    return TakeResponse(out, outLength) ? scard::kFileOk : scard::kFileFailed;
}

uint8_t SCard::UpdateBinary(uint16_t offset, std::span<const uint8_t> data) {
    if (!scard::IsKnownCard(m_cardType) || data.size() > kBlock) {
        return scard::kFileFailed;
    }
    const auto lc = static_cast<uint16_t>(data.size());
    if (!Exchange(Case3, kUpdateBinary, OffsetHigh(offset), OffsetLow(offset), lc, 0,
                  data.data())) {
        return scard::kFileFailed;
    }
    return scard::FileResult(m_sw1, m_sw2, true);
}

uint8_t SCard::WriteFile(std::span<const uint8_t> data) {
    if (data.size() > kMaxWritableFile) {
        return scard::kFileFailed;
    }
    for (std::size_t offset = 0; offset < data.size(); offset += kBlock) {
        const auto block = data.subspan(offset, std::min(kBlock, data.size() - offset));
        if (UpdateBinary(static_cast<uint16_t>(offset), block) != scard::kFileOk) {
            return scard::kFileFailed;
        }
    }
    return scard::kFileOk;
}

std::string SCard::ReadCardNumber() {
    std::string number = kNoCardNumber;
    BackToMasterFile finally(*this);
    if (!scard::IsTcosFamily(m_cardType)) {
        return number;
    }
    SelectPath("3f002f02", false);
    std::array<uint8_t, 100> gdo{};
    uint16_t length = 0;
    number.clear();
    if (ReadFile(gdo, length) != scard::kFileOk) {
        return number;
    }
    // Skip tag and length of the data object; two lowercase digits a byte.
    for (std::size_t i = 2; i < length && number.size() < kCardNumberDigits; ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", gdo[i]);
        number += digits;
    }
    number.resize(std::min(number.size(), kCardNumberDigits));
    return number;
}
