#include "tests/monitor/TestCerts.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace montest {

namespace {

std::unique_ptr<EVP_PKEY, PkeyFree> NewKey() {
    char curve[] = "P-256"; // the variadic call takes a char*
    std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve));
    if (!key) {
        throw std::runtime_error("EC key generation failed");
    }
    return key;
}

std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>
MakeName(const std::vector<NameEntry>& entries) {
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(X509_NAME_new(), &X509_NAME_free);
    for (const auto& e : entries) {
        if (!X509_NAME_add_entry_by_txt(name.get(), e.field.c_str(), e.type,
                                        reinterpret_cast<const unsigned char*>(e.value.data()),
                                        static_cast<int>(e.value.size()), -1, 0)) {
            throw std::runtime_error("bad name entry " + e.field);
        }
    }
    return name;
}

std::unique_ptr<X509, X509Free> MakeCert(const X509_NAME* subject, const X509_NAME* issuer,
                                         EVP_PKEY* publicKey, EVP_PKEY* signingKey,
                                         const Bytes& serial, bool ca, bool qc) {
    std::unique_ptr<X509, X509Free> cert(X509_new());
    X509_set_version(cert.get(), 2);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(
        BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr), &BN_free);
    BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get()));
    X509_set_subject_name(cert.get(), subject);
    X509_set_issuer_name(cert.get(), issuer);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_set_pubkey(cert.get(), publicKey);
    if (ca) {
        X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "critical,CA:TRUE");
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (qc) {
        // qcStatements with one statement: id-etsi-qcs-QcCompliance.
        static const unsigned char kValue[] = {0x30, 0x0A, 0x30, 0x08, 0x06, 0x06,
                                               0x04, 0x00, 0x8E, 0x46, 0x01, 0x01};
        std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> oid(
            OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1), &ASN1_OBJECT_free);
        std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> value(
            ASN1_OCTET_STRING_new(), &ASN1_OCTET_STRING_free);
        ASN1_OCTET_STRING_set(value.get(), kValue, sizeof kValue);
        X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get());
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (X509_sign(cert.get(), signingKey, EVP_sha256()) <= 0) {
        throw std::runtime_error("signing failed");
    }
    return cert;
}

Bytes ToDer(X509* cert) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert, &out);
    if (length <= 0) {
        return {};
    }
    Bytes der(out, out + length);
    OPENSSL_free(out);
    return der;
}

} // namespace

TestCa::TestCa(std::vector<NameEntry> name) : m_key(NewKey()) {
    const auto subject = MakeName(name);
    m_cert = MakeCert(subject.get(), subject.get(), m_key.get(), m_key.get(), {0x10}, true, false);
}

Bytes TestCa::Der() const {
    return ToDer(m_cert.get());
}

Bytes TestCa::Issue(const CertSpec& wanted) const {
    const auto key = NewKey();
    const auto subject = MakeName(wanted.subject);
    const auto cert = MakeCert(subject.get(), X509_get_subject_name(m_cert.get()), key.get(),
                               m_key.get(), wanted.serial, false, wanted.qcStatements);
    return ToDer(cert.get());
}

Bytes Reencode(const Bytes& der) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    return cert ? ToDer(cert.get()) : Bytes();
}

} // namespace montest
