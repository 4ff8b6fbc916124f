#include "card/Fci.h"

#include "card/CardType.h"

#include <cstddef>

namespace scard {

uint16_t FileSizeFromFci(uint32_t cardType, std::span<const uint8_t> response) {
    uint8_t templateTag = 0;
    uint8_t sizeTag = 0;
    switch (cardType) {
    case kTcos20:
        templateTag = 0x6F;
        sizeTag = 0x81;
        break;
    case kTcos30:
    case kTcos30V2:
        templateTag = 0x62;
        sizeTag = 0x80;
        break;
    case kMicardo:
        templateTag = 0x6F;
        sizeTag = 0x85;
        break;
    default:
        return 0;
    }
    if (response.size() < 6 || response[0] != templateTag) {
        return 0;
    }
    const std::size_t end = response[1];
    std::size_t pos = 2;
    while (pos < end) {
        if (pos + 1 >= response.size()) {
            return 0;
        }
        const std::size_t length = response[pos + 1];
        if (response[pos] == sizeTag) {
            if (pos + 2 + length > response.size()) {
                return 0;
            }
            uint32_t value = 0;
            for (std::size_t i = 0; i < length; ++i) {
                value = (value << 8 | response[pos + 2 + i]) & 0xFFFF;
            }
            return static_cast<uint16_t>(value);
        }
        pos += 2 + length;
    }
    return 0;
}

} // namespace scard
