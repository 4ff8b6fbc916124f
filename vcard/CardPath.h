#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

// A file's path from the master file down, one FID per element; the first
// element is always 3F00.
using CardPath = std::vector<uint16_t>;

inline constexpr uint16_t kMasterFile = 0x3F00;

// Reads a path written as hexadecimal FIDs of four digits, such as
// "3f00df01c000" or "3F00/DF01:C000" ('/', ':' and blanks are skipped).
// Fails unless it holds whole FIDs and begins with 3F00.
std::optional<CardPath> ParseCardPath(std::string_view text);

// "3f00df01c000": lowercase, no separators.
std::string FormatCardPath(const CardPath& path);

} // namespace vcard
