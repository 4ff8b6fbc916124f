#pragma once

#include "vcard/Apdu.h"

#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vcard {

// What a certificate of a card key is for; decides key usage, extended key
// usage and, for the signature key, the qcStatements extension.
enum class CertKind : uint8_t {
    Signature,          // qualified signature key of the signature application
    Authentication,     // client authentication and secure mail
    Encryption,         // key and data encipherment
    CardAuthentication, // the card's own certificate, no holder name
};

struct CertRequest {
    CertKind kind = CertKind::Authentication;
    Bytes subjectPublicKeyInfo; // DER, as the card key gives it
    std::string commonName;
    std::string email;        // empty: no emailAddress attribute
    std::string serialNumber; // empty: no serialNumber attribute (the card number, for example)
    // > 0: a non-critical comment extension of this many characters, so that a
    // test gets a certificate larger than the card file it is meant for.
    size_t fillerBytes = 0;
};

// The demo trust center of the virtual cards: a root CA and an issuing CA
// below it, each with an RSA key, made once with OpenSSL and kept in a small
// PEM state file (both keys in the clear: it is a demo). Issue() signs card
// certificates with the issuing CA. Const methods may run on several threads.
class TrustCenter {
public:
    ~TrustCenter();
    TrustCenter(TrustCenter&&) noexcept;
    TrustCenter& operator=(TrustCenter&&) noexcept;
    TrustCenter(const TrustCenter&) = delete;
    TrustCenter& operator=(const TrustCenter&) = delete;

    // New keys and certificates.
    static std::optional<TrustCenter> Create();
    // The state file as Save wrote it; nullopt when it is missing or malformed.
    static std::optional<TrustCenter> Load(const std::string& path);
    // Writes the state file by a temporary file and a hard link, so that it
    // appears whole and an existing file is never replaced: false when `path`
    // already exists or cannot be written.
    bool Save(const std::string& path) const;

    Bytes RootCertificate() const;    // DER, self-signed
    Bytes IssuingCertificate() const; // DER, issued by the root

    // A card certificate, DER; nullopt when the public key does not parse.
    std::optional<Bytes> Issue(const CertRequest& request) const;

private:
    struct Keys;
    explicit TrustCenter(std::unique_ptr<Keys> keys);
    std::unique_ptr<Keys> m_keys;
};

// The trust center for cards whose image lies at `imagePath`: the state file
// named by VELKORA_TRUST_CENTER, else "velkora-demo-tc.pem" beside the image,
// loaded or made once there (cards of one folder share it). An empty image
// path (a card in memory only) gets one trust center per process. Null when
// the state file can neither be read nor made.
std::shared_ptr<const TrustCenter> TrustCenterFor(const std::string& imagePath);

} // namespace vcard
