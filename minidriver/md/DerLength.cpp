#include "minidriver/md/DerLength.h"

namespace velkmd {

std::size_t CertificateLength(std::span<const uint8_t> head, std::size_t fileLimit) {
    if (head.size() < 2 || head[0] != 0x30) {
        return 0;
    }
    std::size_t header = 2;
    std::size_t content = head[1];
    if (head[1] == 0x81) {
        if (head.size() < 3) {
            return 0;
        }
        header = 3;
        content = head[2];
    } else if (head[1] == 0x82) {
        if (head.size() < 4) {
            return 0;
        }
        header = 4;
        content = std::size_t{head[2]} << 8 | head[3];
    } else if (head[1] >= 0x80) {
        return 0;
    }
    const std::size_t total = header + content;
    // An empty SEQUENCE is no certificate either.
    if (content == 0 || total > fileLimit) {
        return 0;
    }
    return total;
}

} // namespace velkmd
