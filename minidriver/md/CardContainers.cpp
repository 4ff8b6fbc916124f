// Containers and certificates of the card in a reader.

#include "minidriver/md/ContainerName.h"
#include "minidriver/md/DerLength.h"
#include "minidriver/md/MdNotify.h"
#include "minidriver/md/Minidriver.h"
#include "minidriver/md/Readers.h"

#include "card/SCard.h"
#include "platform/certstore/WinCryptTypes.h"

#include <algorithm>
#include <array>

namespace velkmd {

namespace {

// Offsets of READ BINARY have 15 bits.
constexpr std::size_t kFileLimit = 0x7FFF;
constexpr std::size_t kBlock = 128;

uint32_t ConnectError(const SCard& card) {
    const LONG error = card.LastError();
    return error != SCARD_S_SUCCESS ? static_cast<uint32_t>(error)
                                    : static_cast<uint32_t>(SCARD_E_NO_SMARTCARD);
}

// The certificate length announced at the start of the slot's file, 0 when
// the file is missing or holds no certificate.
std::size_t CertificateLengthOf(SCard& card, const CardSlot& slot) {
    if (card.SelectPath(slot.certPath, true) != scard::kFileOk) {
        return 0;
    }
    std::array<uint8_t, kBlock> head{};
    uint16_t got = 0;
    const uint8_t result = card.ReadBinary(0, head, got);
    if (result != scard::kFileOk && result != scard::kFileEndReached) {
        return 0;
    }
    return CertificateLength(std::span<const uint8_t>(head.data(), got), kFileLimit);
}

uint32_t ReaderCodeOf(const std::string& reader, char& code) {
    std::vector<std::string> readers;
    if (const uint32_t error = ListReaders(readers)) {
        return error;
    }
    const auto it = std::find(readers.begin(), readers.end(), reader);
    if (it == readers.end()) {
        return static_cast<uint32_t>(SCARD_E_UNKNOWN_READER);
    }
    const auto value = ReaderCode(static_cast<std::size_t>(it - readers.begin()), readers.size());
    if (!value) {
        return static_cast<uint32_t>(SCARD_E_UNKNOWN_READER);
    }
    code = *value;
    return 0;
}

} // namespace

uint32_t ListContainers(const std::string& reader, std::vector<Container>& out) {
    out.clear();
    char code = 0;
    if (const uint32_t error = ReaderCodeOf(reader, code)) {
        return error;
    }
    SCard card(reader);
    if (!card.Connected()) {
        return ConnectError(card);
    }
    for (const CardSlot& slot : SlotsOf(card.CardType())) {
        if (CertificateLengthOf(card, slot) != 0) {
            out.push_back({ContainerName(slot, code, card.CardType()), slot});
        }
    }
    return 0;
}

uint32_t FindContainer(const std::string& reader, const std::string& name, Container& out) {
    if (name.size() != kContainerNameLength) {
        return NTE_BAD_KEYSET;
    }
    SCard card(reader);
    if (!card.Connected()) {
        return ConnectError(card);
    }
    // The reader character is taken as the name has it: the reader itself is
    // named by the path, and the number of readers may have changed since.
    for (const CardSlot& slot : SlotsOf(card.CardType())) {
        if (ContainerName(slot, name[5], card.CardType()) == name) {
            if (CertificateLengthOf(card, slot) == 0) {
                return NTE_BAD_KEYSET;
            }
            out = {name, slot};
            return 0;
        }
    }
    return NTE_BAD_KEYSET;
}

uint32_t ReadCertificate(const std::string& reader, const Container& container,
                         std::vector<uint8_t>& der) {
    der.clear();
    const BusyIndicator busy;
    SCard card(reader);
    if (!card.Connected()) {
        return ConnectError(card);
    }
    const std::size_t length = CertificateLengthOf(card, container.slot);
    if (length == 0) {
        return NTE_BAD_KEYSET;
    }
    // Each block lands in a buffer of its own: a card may answer a block with
    // fewer bytes than asked for, which moves the next offset off the block
    // grid, and the answer may run past the certificate.
    std::vector<uint8_t> bytes;
    bytes.reserve(length);
    std::array<uint8_t, kBlock> block{};
    while (bytes.size() < length) {
        uint16_t got = 0;
        const uint8_t result = card.ReadBinary(static_cast<uint16_t>(bytes.size()), block, got);
        if ((result != scard::kFileOk && result != scard::kFileEndReached) || got == 0) {
            return static_cast<uint32_t>(SCARD_E_FILE_NOT_FOUND);
        }
        const std::size_t wanted = std::min<std::size_t>(got, length - bytes.size());
        bytes.insert(bytes.end(), block.begin(),
                     block.begin() + static_cast<std::ptrdiff_t>(wanted));
        if (result == scard::kFileEndReached) {
            break;
        }
    }
    if (bytes.size() < length) {
        return static_cast<uint32_t>(SCARD_E_FILE_NOT_FOUND);
    }
    der = std::move(bytes);
    return 0;
}

} // namespace velkmd
