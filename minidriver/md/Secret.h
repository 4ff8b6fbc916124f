#pragma once

#include <openssl/crypto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velkmd {

// A PIN in a fixed buffer that never moves and is wiped when the object ends
// or is cleared. Longer values than it holds are refused, not cut.
class Secret {
public:
    static constexpr std::size_t kCapacity = 64;

    Secret() = default;
    ~Secret() { Clear(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    void Clear() {
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
        m_length = 0;
    }
    bool Append(uint8_t byte) {
        if (m_length >= kCapacity) {
            return false;
        }
        m_bytes[m_length++] = byte;
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
    std::span<const uint8_t> View() const { return {m_bytes.data(), m_length}; }
    std::size_t Size() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    bool Equals(const Secret& other) const {
        return m_length == other.m_length &&
               CRYPTO_memcmp(m_bytes.data(), other.m_bytes.data(), m_length) == 0;
    }

private:
    std::array<uint8_t, kCapacity> m_bytes{};
    std::size_t m_length = 0;
};

} // namespace velkmd
