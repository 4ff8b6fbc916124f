#pragma once

// Card type ids and their recognition from the answer-to-reset.

#include <cstdint>
#include <span>

namespace scard {

inline constexpr uint32_t kUnknownCard = 0;
inline constexpr uint32_t kTcos20 = 1;
inline constexpr uint32_t kTcos30 = 2;
inline constexpr uint32_t kMicardo = 3;
inline constexpr uint32_t kCardOs4 = 4;
inline constexpr uint32_t kCardOs8 = 8;
inline constexpr uint32_t kTcos30V2 = 9;

// The type of the first row of the ATR table that the ATR matches: exactly the
// row's length, and every ATR byte ANDed with the row's mask equal to the
// row's byte. No match: kUnknownCard.
uint32_t CardTypeFromAtr(std::span<const uint8_t> atr);

inline bool IsTcosFamily(uint32_t type) {
    return type == kTcos20 || type == kTcos30 || type == kTcos30V2;
}

inline bool IsCardOsFamily(uint32_t type) {
    return type == kCardOs4 || type == kCardOs8;
}

inline bool IsKnownCard(uint32_t type) {
    return IsTcosFamily(type) || type == kMicardo || IsCardOsFamily(type);
}

} // namespace scard
