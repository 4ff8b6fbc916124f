#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Certificates for test deliveries: self-signed ones for fresh keys, and ones for the public key
// of a card key whose private half stays on the card.
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

} // namespace persotest
