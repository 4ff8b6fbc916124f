#pragma once

// The file size in the answer to a SELECT (the file control information).

#include <cstdint>
#include <span>

namespace scard {

// The response must hold at least 6 bytes and begin with the card type's
// template tag (T-COS 2.0: 6F, size tag 81; T-COS 3.0 and V2: 62, 80;
// Micardo: 6F, 85). The walk starts at byte 2 and runs while the position is
// below the template's length byte, either finding the size tag or jumping
// over the element (2 + its length byte). The value is read big-endian and
// cut to 16 bits. Anything else, or an element that runs past the response:
// 0, "size unknown".
uint16_t FileSizeFromFci(uint32_t cardType, std::span<const uint8_t> response);

} // namespace scard
