#pragma once

#include <cstdint>
#include <span>

// The certificates of a PKCS#7 ContentInfo of type SignedData, as the trust center's decrypted
// delivery carries them. Both walk the DER with CASN1: into the ContentInfo, on to its [0],
// into it and into the SignedData, past version, digestAlgorithms and contentInfo, into the
// certificates field; there every consecutive SEQUENCE is one certificate. No other tag is
// tested on the way. Nothing is read outside `plaintext`, whatever its lengths claim.

// The number of certificates; 0 when the plaintext does not begin with a SEQUENCE or the walk
// cannot reach the certificates field.
uint32_t CountP7Certificates(std::span<const uint8_t> plaintext);

// The DER encoding (tag to end) of certificate `index`, counted from 0, as a view into
// `plaintext`; empty when there is no such certificate.
std::span<const uint8_t> GetP7Certificate(std::span<const uint8_t> plaintext, uint32_t index);
