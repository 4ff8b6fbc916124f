#pragma once

#include "vcard/CardState.h"
#include "vcard/TrustCenter.h"

#include <optional>
#include <span>
#include <string_view>

namespace vcard {

// The demo trust center's delivery of a card holder's certificates: a P7M
// that only the card itself can open (CMS EnvelopedData for the card's
// authentication certificate in 3f00df02c500), holding the delivery
// structure whose ciphertext is a certs-only PKCS #7 SignedData under a
// Triple-DES key made from the tele-password:
//
//   VelkoraDelivery ::= SEQUENCE {
//     encryptedData SEQUENCE {                  -- PKCS #7 EncryptedData
//       version INTEGER (0),
//       encryptedContentInfo SEQUENCE {
//         contentType OBJECT IDENTIFIER,        -- signedData
//         contentEncryptionAlgorithm SEQUENCE {
//           algorithm OBJECT IDENTIFIER,        -- des-ede3-cbc
//           iv OCTET STRING (SIZE (8)) },       -- 5A 5A 5A 5A 5A 5A 5A 5A
//         encryptedContent [0] IMPLICIT OCTET STRING } } }
//
// Each step is its own function so that a test can build a bad variant:
// another card's recipient, another inner structure, an extra or an
// oversized certificate.

// The holder key files whose certificates a delivery carries, in the order
// of the card's personalization: SigG, signature, encoding.
inline constexpr std::string_view kDeliveryKeyFiles[] = {"3f00df014531", "3f00df024531",
                                                         "3f00df0245b1"};

// The byte that fills the eight bytes of the delivery's IV.
inline constexpr uint8_t kDeliveryIvByte = 0x5A;

// The content encryption of the envelope.
enum class EnvelopeCipher : uint8_t { Aes128Cbc, Aes192Cbc, Aes256Cbc, DesEde3Cbc };

// Certificates (DER) of `tc` for the keys of `keyFiles` as the card image
// holds them, in that order, for the holder of the card's profile. A key file
// may also be the card's own 3f00df024571. nullopt when a key is missing or
// the signing fails.
std::optional<std::vector<Bytes>>
IssueDeliveryCertificates(const CardState& card, const TrustCenter& tc,
                          std::span<const std::string_view> keyFiles = kDeliveryKeyFiles);

// ContentInfo of type signedData, certs-only: version 1, no digest
// algorithms, contentInfo of type data without content, the certificates as
// given (any bytes; a well-formed one is a DER SEQUENCE), no signerInfos.
Bytes BuildCertsOnlySignedData(std::span<const Bytes> certificates);

// The Triple-DES key of a tele-password: the password (Latin-1 bytes)
// repeated until 24 bytes and cut there. Wiped when it goes.
struct TelePasswordKey {
    uint8_t bytes[24] = {};
    ~TelePasswordKey();
};
// False for an empty password, which no repetition makes 24 bytes long.
bool DeriveTelePasswordKey(std::string_view telePassword, TelePasswordKey& key);

// The VelkoraDelivery DER of `plaintext` encrypted under the tele-password's
// key (Triple-DES EDE CBC, IV of kDeliveryIvByte, PKCS #7 padding to a
// multiple of 8). nullopt for an empty password or a cipher failure.
std::optional<Bytes> EncryptDelivery(std::span<const uint8_t> plaintext,
                                     std::string_view telePassword);

// CMS EnvelopedData, DER, of type id-data holding `content`, for the one
// recipient certificate (issuerAndSerialNumber, RSA PKCS #1 v1.5 key
// transport). nullopt when the certificate does not parse or is no RSA key.
std::optional<Bytes> EnvelopForRecipient(std::span<const uint8_t> recipientCertDer,
                                         std::span<const uint8_t> content,
                                         EnvelopeCipher cipher = EnvelopeCipher::Aes256Cbc);

// The card's authentication certificate as the image holds it in
// 3f00df02c500 (the DER without the zeros after it); nullopt when the file
// holds none.
std::optional<Bytes> CardAuthenticationCertificate(const CardState& card);

// The whole P7M: the certificates, certs-only, encrypted under the
// tele-password and enveloped for the card's authentication certificate.
std::optional<Bytes> MakeDeliveryP7M(const CardState& card, std::span<const Bytes> certificates,
                                     std::string_view telePassword,
                                     EnvelopeCipher cipher = EnvelopeCipher::Aes256Cbc);

// Issues the holder certificates of `keyFiles` and makes the P7M of them.
std::optional<Bytes>
MakeDeliveryP7M(const CardState& card, const TrustCenter& tc, std::string_view telePassword,
                std::span<const std::string_view> keyFiles = kDeliveryKeyFiles);

} // namespace vcard
