#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace velk {

// Writes all `length` bytes to `fd`, going on after a short write or an interrupted one.
// False at the first real failure.
inline bool WriteAll(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = write(fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace velk
