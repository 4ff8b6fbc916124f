#include "dialogs/perso/P7MPersonalization.h"

#include "card/SCard.h"
#include "dialogs/perso/CardKeyMatch.h"
#include "dialogs/perso/P7Certificates.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint8_t kKeyRecord = 1;
constexpr std::size_t kPiece = 128;

std::optional<std::vector<uint8_t>> ReadCardKey(SCard& card, const char* keyFile) {
    if (card.SelectPath(keyFile, true) != scard::kFileOk) {
        return std::nullopt;
    }
    std::array<uint8_t, SCard::kResponseCapacity> record{};
    uint16_t length = 0;
    if (card.ReadRecord(kKeyRecord, record, length) != scard::kFileOk) {
        return std::nullopt;
    }
    const std::size_t kept = std::min<std::size_t>(length, kCardKeyLength);
    return std::vector<uint8_t>(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(kept));
}

// Reads `expected.size()` bytes of the selected file back and compares them.
bool ReadsBackAs(SCard& card, std::span<const uint8_t> expected) {
    std::array<uint8_t, SCard::kResponseCapacity> piece{};
    for (std::size_t offset = 0; offset < expected.size(); offset += kPiece) {
        const std::size_t want = std::min(kPiece, expected.size() - offset);
        uint16_t got = 0;
        const uint8_t result = card.ReadBinary(static_cast<uint16_t>(offset), piece, got);
        if ((result != scard::kFileOk && result != scard::kFileEndReached) || got < want ||
            !std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(want),
                        expected.begin() + static_cast<std::ptrdiff_t>(offset))) {
            return false;
        }
    }
    return true;
}

SlotWrite WriteSlot(SCard& card, const CertificateSlot& slot, std::span<const uint8_t> certificate,
                    velk::SecureBuffer& buffer) {
    // A certificate cut to its file would be a broken certificate on the card.
    if (certificate.empty() || certificate.size() > slot.bytes || !buffer.Ok() ||
        buffer.Size() < slot.bytes) {
        return SlotWrite::Failed;
    }
    if (card.SelectPath(slot.certificateFile, true) != scard::kFileOk) {
        return SlotWrite::Failed;
    }
    buffer.Wipe();
    std::copy(certificate.begin(), certificate.end(), buffer.Data());
    const std::span<const uint8_t> written{buffer.Data(), slot.bytes};
    if (card.WriteFile(written) != scard::kFileOk || !ReadsBackAs(card, written)) {
        return SlotWrite::Failed;
    }
    return SlotWrite::Written;
}

} // namespace

SlotCertificates MatchCardCertificates(SCard& card, std::span<const uint8_t> plaintext) {
    std::array<std::optional<std::vector<uint8_t>>, kCertificateSlots.size()> keys;
    for (std::size_t slot = 0; slot < kCertificateSlots.size(); ++slot) {
        keys[slot] = ReadCardKey(card, kCertificateSlots[slot].keyFile);
    }
    SlotCertificates matched;
    const uint32_t count = CountP7Certificates(plaintext);
    for (uint32_t index = 0; index < count; ++index) {
        const auto certificate = GetP7Certificate(plaintext, index);
        for (std::size_t slot = 0; slot < keys.size(); ++slot) {
            if (keys[slot] && CertMatchesCardKey(certificate, *keys[slot])) {
                matched[slot] = index;
            }
        }
    }
    return matched;
}

SlotWrites WriteCardCertificates(SCard& card, std::span<const uint8_t> plaintext,
                                 const SlotCertificates& certificates) {
    SlotWrites writes{};
    velk::SecureBuffer buffer(kWriteBufferSize);
    for (std::size_t slot = 0; slot < kCertificateSlots.size(); ++slot) {
        if (!certificates[slot]) {
            writes[slot] = SlotWrite::None;
            continue;
        }
        writes[slot] = WriteSlot(card, kCertificateSlots[slot],
                                 GetP7Certificate(plaintext, *certificates[slot]), buffer);
    }
    return writes;
}
