#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test-side trust center deliveries: certs-only PKCS#7, its tele-password encryption in the
// delivery structure, and self-signed RSA certificates to put in it.
namespace persotest {

using Bytes = std::vector<uint8_t>;

struct TestCert {
    Bytes der;
    Bytes modulus; // big-endian, without a sign byte
};

// A self-signed certificate for a fresh RSA key of `bits`.
TestCert MakeCertificate(int bits, const std::string& commonName);
// A self-signed certificate for the given modulus (exponent 65537), signed by a throw-away key:
// for certificates that must match a card key whose private half stays on the card. `padding`
// bytes in an extension of its own make it as large as a test needs.
Bytes CertificateForModulus(const Bytes& modulus, const std::string& commonName,
                            std::size_t padding = 0);

// ContentInfo of type signedData, certs-only, carrying `certificates` in order.
Bytes CertsOnlyP7(const std::vector<Bytes>& certificates);
// The delivery structure around `plaintext` encrypted under the tele-password.
Bytes Delivery(const Bytes& plaintext, const std::string& telePassword);
// CMS enveloped data (AES-256-CBC) of `content` for the holder of `recipientCertificate`.
Bytes Envelope(const Bytes& content, const Bytes& recipientCertificate);

} // namespace persotest
