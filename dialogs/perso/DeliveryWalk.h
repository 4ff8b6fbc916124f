#pragma once

#include <cstdint>
#include <span>

// The Triple-DES ciphertext inside the content of the trust center's P7M. The delivery is a
// SEQUENCE holding a PKCS#7 EncryptedData; the walk goes Enter, Enter, Next, Enter, Next,
// Enter, Next and, on an OCTET STRING (the IV), Next once more, where "Next" may leave the
// enclosing element. The contents of the element reached are the ciphertext. Nothing is read
// outside `content`; a walk that cannot go on, or contents that are not whole Triple-DES
// blocks, give an empty span.
std::span<const uint8_t> LocateDeliveryCiphertext(std::span<const uint8_t> content);

// True when the content begins with a SEQUENCE tag.
bool BeginsWithSequence(std::span<const uint8_t> bytes);
