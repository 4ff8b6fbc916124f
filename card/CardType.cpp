#include "card/CardType.h"

#include <array>
#include <cstddef>

namespace scard {
namespace {

// One row of the ATR table. Bytes past `length` are unused.
struct AtrRow {
    uint32_t type;
    std::array<uint8_t, 33> atr;
    std::array<uint8_t, 33> mask;
    uint32_t length;
};

constexpr std::array<uint8_t, 33> AllOnes() {
    std::array<uint8_t, 33> mask{};
    for (auto& b : mask) {
        b = 0xFF;
    }
    return mask;
}

// T-COS 2.0 cards differ in two bytes (11 and 18, the latter the check byte).
constexpr std::array<uint8_t, 33> Tcos20Mask() {
    auto mask = AllOnes();
    mask[11] = 0x00;
    mask[18] = 0x00;
    return mask;
}

// Order matters: the first matching row wins. A row of type 0 ends the table.
constexpr AtrRow kAtrTable[] = {
    {kTcos20,
     {0x3B, 0xBA, 0x96, 0x00, 0x81, 0x31, 0x86, 0x5D, 0x00, 0x64, 0x05, 0x00, 0x02, 0x03, 0x31,
      0x80, 0x90, 0x00, 0x00},
     Tcos20Mask(),
     19},
    {kTcos30,
     {0x3B, 0xBF, 0x96, 0x00, 0x81, 0x31, 0xFE, 0x5D, 0x00, 0x64, 0x04, 0x11,
      0x03, 0x01, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x7D},
     AllOnes(),
     24},
    {kMicardo,
     {0x3B, 0x6F, 0x00, 0xFF, 0x00, 0x68, 0xD2, 0x76, 0x00, 0x00, 0x28, 0xFF, 0x05, 0x1E, 0x31,
      0x80, 0x00, 0x90, 0x00},
     AllOnes(),
     19},
    {kCardOs8,
     {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x04, 0x12},
     AllOnes(),
     13},
    {kCardOs4,
     {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x08, 0x74},
     AllOnes(),
     13},
    {kTcos30V2,
     {0x3B, 0x9F, 0x96, 0x81, 0x31, 0xFE, 0x9D, 0x00, 0x64, 0x05, 0xA0, 0x03,
      0x04, 0x31, 0xC0, 0x73, 0xF7, 0x01, 0xD0, 0x00, 0x90, 0x00, 0x28},
     AllOnes(),
     23},
    {kUnknownCard, {}, {}, 0},
};

bool Matches(const AtrRow& row, std::span<const uint8_t> atr) {
    if (atr.size() != row.length) {
        return false;
    }
    for (std::size_t i = 0; i < atr.size(); ++i) {
        if ((atr[i] & row.mask[i]) != row.atr[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

uint32_t CardTypeFromAtr(std::span<const uint8_t> atr) {
    for (const AtrRow& row : kAtrTable) {
        if (row.type == kUnknownCard) {
            break;
        }
        if (Matches(row, atr)) {
            return row.type;
        }
    }
    return kUnknownCard;
}

} // namespace scard
