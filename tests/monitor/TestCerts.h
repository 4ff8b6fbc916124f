#pragma once

// Certificates made with OpenSSL for the tests: a small certificate
// authority and certificates it issues, with the name entries, serial
// numbers and extensions a test asks for.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace montest {

using Bytes = std::vector<uint8_t>;

// One attribute of a name: the short or long field name as OpenSSL knows it
// ("CN", "emailAddress", "serialNumber", "C"), the value, and the string type
// (MBSTRING_UTF8 converts; V_ASN1_T61STRING and the like store the bytes as
// they are).
struct NameEntry {
    std::string field;
    std::string value;
    int type = MBSTRING_UTF8;
};

struct CertSpec {
    std::vector<NameEntry> subject{{"CN", "Erika Mustermann"}};
    Bytes serial{0x01}; // content octets of the INTEGER, big-endian
    bool qcStatements = false;
};

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};

class TestCa {
public:
    explicit TestCa(std::vector<NameEntry> name = {{"CN", "Velkora Test CA"}, {"O", "Velkora"}});

    // The authority's own self-signed certificate.
    Bytes Der() const;
    // A certificate issued by this authority, with a key of its own.
    Bytes Issue(const CertSpec& wanted) const;

private:
    std::unique_ptr<EVP_PKEY, PkeyFree> m_key;
    std::unique_ptr<X509, X509Free> m_cert;
};

// The DER bytes read back by OpenSSL and written again (empty when OpenSSL
// cannot read them).
Bytes Reencode(const Bytes& der);

} // namespace montest
