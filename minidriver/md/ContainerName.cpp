#include "minidriver/md/ContainerName.h"

#include <cstdio>

namespace velkmd {

std::optional<char> ReaderCode(std::size_t index, std::size_t count) {
    if (index >= count) {
        return std::nullopt;
    }
    const std::size_t code = '0' + index + 2 * count;
    if (code > '~') {
        return std::nullopt;
    }
    return static_cast<char>(code);
}

std::string ContainerName(const CardSlot& slot, char readerCode, uint32_t cardType) {
    char name[kContainerNameLength + 1] = {};
    std::snprintf(name, sizeof name, "%04x%c%c%c%c-%04x-%04x-%04x%s", unsigned{slot.certFid},
                  slot.authority ? '1' : '0', readerCode, slot.type, slot.selector,
                  unsigned{slot.df}, unsigned{slot.keyFid},
                  static_cast<unsigned>(cardType & 0xFFFF), kContainerTail);
    return name;
}

} // namespace velkmd
