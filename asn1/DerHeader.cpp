#include "asn1/DerHeader.h"

#include "asn1/CASN1.h"

#include <limits>

namespace velk::asn1 {

namespace {

// Length octets of a definite-length element:
//   short form  0x00-0x7F        the length itself
//   long form   0x81-0x84 L...L  1 to 4 octets, big-endian
// Longer long forms (0x85-0xFF) cannot be held in 32 bits and are refused.
std::optional<DerHeader> ReadDefinite(const uint8_t* p, std::size_t avail) {
    if (avail < 2) {
        return std::nullopt;
    }
    DerHeader header;
    const uint8_t first = p[1];
    if (first < 0x80) {
        header.headerSize = 2;
        header.contentLength = first;
    } else {
        const uint32_t count = first & 0x7Fu;
        if (count == 0 || count > 4 || avail < 2 + count) {
            return std::nullopt;
        }
        uint32_t length = 0;
        for (uint32_t k = 0; k < count; ++k) {
            length = (length << 8) | p[2 + k];
        }
        header.headerSize = 2 + count;
        header.contentLength = length;
    }
    const uint64_t total = static_cast<uint64_t>(header.headerSize) + header.contentLength;
    if (total > avail || total > std::numeric_limits<uint32_t>::max()) {
        return std::nullopt;
    }
    return header;
}

// Indefinite form (length octet 0x80): walk the elements that follow, keeping a
// nesting depth, until the end-of-contents octets 00 00 that close the element
// at `p` itself. Nested indefinite elements open a level each; definite ones
// are stepped over whole. The length is everything after the header up to and
// including the closing 00 00. The scan is a loop, not a recursion, and every
// step moves forward by at least two octets, so it ends within the data.
std::optional<DerHeader> ReadIndefinite(const uint8_t* p, std::size_t avail) {
    std::size_t i = 0;
    uint32_t depth = 0;
    for (;;) {
        if (avail - i < 2) {
            return std::nullopt; // the data ends before the end-of-contents
        }
        if (p[i] == 0x00 && p[i + 1] == 0x00) {
            i += 2;
            if (depth == 1) {
                break;
            }
            --depth;
        } else if (p[i + 1] == 0x80) {
            if (++depth > CASN1::kMaxIndefiniteDepth) {
                return std::nullopt;
            }
            i += 2;
        } else {
            const auto inner = ReadDefinite(p + i, avail - i);
            if (!inner) {
                return std::nullopt;
            }
            i += inner->Total();
        }
    }
    if (i - 2 > std::numeric_limits<uint32_t>::max() - 2) {
        return std::nullopt;
    }
    return DerHeader{2, static_cast<uint32_t>(i - 2)};
}

} // namespace

std::optional<DerHeader> ReadHeader(const uint8_t* p, std::size_t avail) {
    if (p == nullptr || avail < 2) {
        return std::nullopt;
    }
    if (p[1] == 0x80) {
        return ReadIndefinite(p, avail);
    }
    return ReadDefinite(p, avail);
}

void AppendHex(std::span<const uint8_t> octets, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.reserve(out.size() + 2 * octets.size());
    for (const uint8_t octet : octets) {
        out.push_back(kDigits[octet >> 4]);
        out.push_back(kDigits[octet & 0x0F]);
    }
}

} // namespace velk::asn1
