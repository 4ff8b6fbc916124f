#pragma once

#include "util/SecureBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class SCard;

// The card side of the personalization from a trust center's P7M: which of the delivered
// certificates belongs to which key of the card, and writing them into the card's certificate
// files. The dialog runs these steps between its prompts; a benchmark runs them alone.

struct CertificateSlot {
    const char* keyFile;         // public key in record 1
    const char* certificateFile; // where its certificate goes
    std::size_t bytes;           // how much of the file is written
    unsigned successText;        // catalogue messages of the report
    unsigned failureText;
};

// SigG, Signature, Encoding and Authentication certificate, in the order of the report.
inline constexpr std::array<CertificateSlot, 4> kCertificateSlots = {{
    {"3f00df014531", "3f00df01c000", 4096, 507, 508},
    {"3f00df024531", "3f00df02c000", 2048, 509, 510},
    {"3f00df0245b1", "3f00df02c200", 2048, 511, 512},
    {"3f00df024571", "3f00df02c500", 2048, 513, 514},
}};

inline constexpr std::size_t kWriteBufferSize = 4096;

// For each slot, the index of the delivered certificate that belongs to its key.
using SlotCertificates = std::array<std::optional<uint32_t>, kCertificateSlots.size()>;

// Reads the four public keys and matches every certificate of `plaintext` against them; a later
// certificate for the same key replaces an earlier one. A key that cannot be read matches
// nothing.
SlotCertificates MatchCardCertificates(SCard& card, std::span<const uint8_t> plaintext);

enum class SlotWrite : uint8_t {
    None,    // no certificate for this key
    Written, // written and read back unchanged
    Failed,  // refused (larger than its file), not written, or read back different
};
using SlotWrites = std::array<SlotWrite, kCertificateSlots.size()>;

// Writes each matched certificate, zero-filled to its slot's size, in pieces of 128 bytes and
// reads it back for comparison. A failure of one slot does not stop the others.
SlotWrites WriteCardCertificates(SCard& card, std::span<const uint8_t> plaintext,
                                 const SlotCertificates& certificates);
