#include "asn1/CASN1.h"

#include <optional>

namespace {

// One subidentifier: base 128, seven bits per octet, the high bit set on every
// octet but the last. Fails when the contents end inside it or the value does
// not fit in 64 bits.
std::optional<uint64_t> ReadSubidentifier(std::span<const uint8_t> contents, std::size_t& at) {
    uint64_t value = 0;
    while (at < contents.size()) {
        const uint8_t octet = contents[at++];
        if (value > (UINT64_MAX >> 7)) {
            return std::nullopt;
        }
        value = (value << 7) | (octet & 0x7Fu);
        if ((octet & 0x80u) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

// OBJECT IDENTIFIER ::= contents: subidentifier+
//   the first subidentifier packs the first two arcs as 40 * a1 + a2
//   (a1 is 0 or 1 below 80, else a1 = 2), each further one is one arc.
std::string CASN1::OidToText(const Asn1Cursor& element, uint32_t length, bool contentOnly) {
    const uint32_t skip = contentOnly ? 0 : 2;
    if (length <= skip || static_cast<uint64_t>(length) > element.Remaining()) {
        return {};
    }
    const std::span<const uint8_t> contents(element.pos + skip, length - skip);

    std::size_t at = 0;
    const auto first = ReadSubidentifier(contents, at);
    if (!first) {
        return {};
    }
    std::string text;
    if (*first < 80) {
        text = std::to_string(*first / 40) + '.' + std::to_string(*first % 40);
    } else {
        text = "2." + std::to_string(*first - 80);
    }
    while (at < contents.size()) {
        const auto arc = ReadSubidentifier(contents, at);
        if (!arc) {
            return {};
        }
        text += '.';
        text += std::to_string(*arc);
    }
    return text;
}
