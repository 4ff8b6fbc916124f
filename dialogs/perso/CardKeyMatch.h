#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kCardKeyLength = 256;

// True when the first 256 bytes of the certificate's public key (for RSA the modulus without
// its leading zero, in encoded order, as CCertInfo gives it) equal the 256 bytes of `cardKey`,
// the modulus read from record 1 of a key file. Anything shorter matches nothing.
bool CertMatchesCardKey(std::span<const uint8_t> certificate, std::span<const uint8_t> cardKey);
