#pragma once

#include "util/SecureBuffer.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The tele-password encryption of the trust center's delivery: Triple-DES with three keys
// (encrypt-decrypt-encrypt) in CBC mode, IV eight bytes 0x5A.

inline constexpr std::size_t kTelePasswordKeySize = 24;
inline constexpr uint8_t kDeliveryIvByte = 0x5A;

// The Triple-DES key of a tele-password given as UTF-8: its characters repeated until there are
// 24 and cut to 24, each as its Latin-1 byte (a character beyond Latin-1 or an invalid byte
// counts as '?'). Bytes 1-8, 9-16 and 17-24 are the three DES keys. False, `key` wiped, for an
// empty password.
bool TelePasswordKey(std::string_view password, std::span<uint8_t, kTelePasswordKeySize> key);

// The size of the plaintext buffer: the ciphertext's length rounded up to a multiple of 16.
std::size_t DeliveryPlaintextSize(std::size_t ciphertextLength);

// Decrypts the ciphertext, zero-extended to plaintext.Size() (DeliveryPlaintextSize), into
// `plaintext` without removing any padding. False, plaintext wiped, when the buffer does not
// fit or the cipher fails.
bool DecryptDelivery(std::span<const uint8_t> ciphertext,
                     std::span<const uint8_t, kTelePasswordKeySize> key,
                     velk::SecureBuffer& plaintext);
