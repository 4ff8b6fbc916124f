#pragma once

// Card paths: hexadecimal FIDs from the master file down, as text
// ("3f00df01c000"), where '/', ':' and blanks may stand anywhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace scard {

inline constexpr std::size_t kMaxPathBytes = 40; // 20 FIDs

struct ParsedPath {
    std::array<uint8_t, kMaxPathBytes> bytes{};
    std::size_t length = 0;

    std::span<const uint8_t> View() const { return {bytes.data(), length}; }
};

// Skips '/', ':' and ' ', reads every other pair of characters as one
// hexadecimal byte. Nothing (no FID at all), a character that is not a hex
// digit, a lone trailing digit, half a FID or more than 20 FIDs: nullopt.
std::optional<ParsedPath> ParseHexPath(std::string_view text);

// How many leading bytes of `path` the chain of selected dedicated files
// `selected` already covers, so that they need not be selected again:
//  - when `path` is exactly one FID longer than `selected` and begins with
//    it, all but the last FID;
//  - otherwise the FIDs at the start of `path` equal to those of `selected`,
//    looking only at FIDs before the last one of `path`, at most
//    `selected.size()` bytes.
std::size_t CoveredPrefix(std::span<const uint8_t> selected, std::span<const uint8_t> path);

} // namespace scard
