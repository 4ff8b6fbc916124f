#pragma once

// The maker's RSA public key that TCOS 3.0 cards receive with the key
// installation command and that the card check compares with record 5 of
// 3F00/4500.
//
// The key is a constant of this build: a 1024-bit RSA key generated once with
// OpenSSL (`openssl genrsa 1024`), of which only the public modulus is kept
// here; the private half was discarded and is not needed by anything the
// program does. The public exponent is 65537 (01 00 01). The installation and
// the check both use this one value, so a card set up by this build is
// recognised by it.

#include <array>
#include <cstdint>

namespace scard {

inline constexpr std::size_t kMakerModulusSize = 128;

// Big-endian, most significant byte first, as it travels to the card.
extern const std::array<uint8_t, kMakerModulusSize> kMakerModulus;

} // namespace scard
