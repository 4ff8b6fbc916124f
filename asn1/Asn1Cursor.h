#pragma once

#include <cstdint>

// The position of a walk through DER data: the element under the cursor and
// how far the data goes. A plain value; the CASN1 operations update it in place.
//
// `size` and `pos` are what every walk of the program works with: the total
// encoded size of the element at `pos` (identifier + length octets + contents,
// 0 where no element is known) and the address of its identifier octet (null
// when there is none). `end` is one past the last octet of the caller's data:
// no operation reads at or beyond it, whatever the lengths in the data claim.
struct Asn1Cursor {
    uint32_t size = 0;
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;

    // True when there is at least one octet at `pos` that may be read.
    [[nodiscard]] bool Readable() const { return pos != nullptr && end != nullptr && pos < end; }
    // Octets from `pos` to the end of the data (0 when nothing is readable).
    [[nodiscard]] std::uintptr_t Remaining() const {
        return Readable() ? static_cast<std::uintptr_t>(end - pos) : 0;
    }
};
