#pragma once

// Linked into a test executable, this replaces the global operator new and
// delete. While a watch lives, every heap block given back is searched for
// the watched secret before it is freed (a secret freed unwiped is a hit),
// and allocations of at least `failFrom` bytes fail with std::bad_alloc once
// `allowed` of them have succeeded. One watch at a time.

#include <cstddef>
#include <cstdint>
#include <span>

namespace velktest {

class FreedSecretWatch {
public:
    static constexpr std::size_t kNever = static_cast<std::size_t>(-1);

    explicit FreedSecretWatch(std::span<const uint8_t> secret, std::size_t failFrom = kNever,
                              int allowed = 0);
    ~FreedSecretWatch();
    FreedSecretWatch(const FreedSecretWatch&) = delete;
    FreedSecretWatch& operator=(const FreedSecretWatch&) = delete;

    int Hits() const; // freed blocks that still held the secret
    int FailedAllocations() const;
};

} // namespace velktest
