#pragma once

#include "util/HexDigit.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace velktest {

// "00 A4 00 00" -> bytes, for APDUs and ATRs written out in tests; blanks
// are ignored, anything else that is not a hex digit throws.
inline std::vector<uint8_t> HexBytes(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ') {
            continue;
        }
        const int v = velk::HexDigitValue(c);
        if (v < 0) {
            throw std::invalid_argument("not a hex digit in test data");
        }
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of hex digits in test data");
    }
    return bytes;
}

} // namespace velktest
