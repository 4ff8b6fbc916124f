#pragma once

#include "util/SecureBuffer.h"

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace velkmd {

// A PIN in a fixed buffer that never moves, stays out of core dumps and swap,
// and is wiped when the object ends or is cleared. Longer values than it
// holds are refused, not cut; so is every value when the buffer could not be
// had.
class Secret {
public:
    static constexpr std::size_t kCapacity = 64;

    Secret() = default;
    ~Secret() { Clear(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    void Clear() {
        m_bytes.Wipe();
        m_length = 0;
    }
    bool Append(uint8_t byte) {
        if (m_length >= m_bytes.Size()) {
            return false;
        }
        m_bytes.Data()[m_length++] = byte;
        return true;
    }
    bool Assign(std::span<const uint8_t> bytes) {
        Clear();
        for (uint8_t b : bytes) {
            if (!Append(b)) {
                Clear();
                return false;
            }
        }
        return true;
    }
    std::span<const uint8_t> View() const { return {m_bytes.Data(), m_length}; }
    std::size_t Size() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    bool Equals(const Secret& other) const {
        return m_length == other.m_length &&
               (m_length == 0 ||
                CRYPTO_memcmp(m_bytes.Data(), other.m_bytes.Data(), m_length) == 0);
    }

private:
    velk::SecureBuffer m_bytes{kCapacity};
    std::size_t m_length = 0;
};

} // namespace velkmd
