#pragma once

// The parts of a CMS enveloped message that OpenSSL keeps to itself: each
// recipient's wrapped key and the encrypted content with its algorithm, found
// by a walk over the message's DER that never reads outside it.

#include "platform/crypto/CryptMsg.h" // the error codes

#include <cstdint>
#include <span>
#include <vector>

namespace velk::crypto {

// One element of recipientInfos, in the order of the encoding.
struct CmsRecipientPart {
    bool keyTransport = false;                 // a KeyTransRecipientInfo
    std::span<const uint8_t> keyEncryptionOid; // the whole OBJECT IDENTIFIER element
    std::span<const uint8_t> encryptedKey;     // the OCTET STRING's value
};

struct CmsEnvelopeParts {
    std::vector<CmsRecipientPart> recipients;
    std::span<const uint8_t> contentAlgorithmOid;    // the whole OBJECT IDENTIFIER element
    std::span<const uint8_t> contentAlgorithmParams; // the whole element, empty when absent
    std::vector<uint8_t> ciphertext; // encryptedContent (pieces of a constructed one joined)
};

// Walks ContentInfo { id-envelopedData, [0] EnvelopedData }. Definite lengths
// only (DER). 0, CRYPT_E_UNEXPECTED_MSG_TYPE for another content type,
// CRYPT_E_ASN1_BADTAG for an element of the wrong kind, CRYPT_E_ASN1_CORRUPT
// for a length that leaves its container, a missing element or no content.
DWORD WalkEnvelopedMessage(std::span<const uint8_t> message, CmsEnvelopeParts& parts);

} // namespace velk::crypto
