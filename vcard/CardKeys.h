#pragma once

#include "vcard/Apdu.h"

#include <optional>
#include <span>

namespace vcard {

// RSA operations of the card's own keys (OpenSSL). Keys travel as DER
// RSAPrivateKey; nothing here keeps state.

// A new RSA key pair of `bits` bits with exponent 65537.
std::optional<Bytes> GenerateRsaKey(int bits);

// The public modulus, big-endian, exactly as long as the key (256 bytes for 2048 bits).
std::optional<Bytes> RsaModulus(std::span<const uint8_t> privateKeyDer);

// SubjectPublicKeyInfo, DER: what a certificate for this key carries.
std::optional<Bytes> RsaPublicKeyInfo(std::span<const uint8_t> privateKeyDer);

// Decrypts a PKCS#1 v1.5 block (`pkcs1Padding`) or a raw block with the private key.
std::optional<Bytes> RsaDecrypt(std::span<const uint8_t> privateKeyDer,
                                std::span<const uint8_t> ciphertext, bool pkcs1Padding);

// True if the DER parses as an RSA private key.
bool IsRsaPrivateKey(std::span<const uint8_t> privateKeyDer);

} // namespace vcard
