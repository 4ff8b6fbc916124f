#include "tests/dialogs/TestCertificate.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

namespace dlgtest {

namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* cert) const { X509_free(cert); }
    void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};

constexpr long kDay = 24L * 60 * 60;

} // namespace

std::vector<uint8_t> MakeCertificate(const std::string& commonName, int fromDays, int toDays,
                                     unsigned keyUsage) {
    char curve[] = "P-256";
    const std::unique_ptr<EVP_PKEY, Free> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve));
    const std::unique_ptr<X509, Free> cert(X509_new());
    if (!key || !cert) {
        return {};
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x1234);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * kDay);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (keyUsage != 0) {
        std::string bits;
        if ((keyUsage & KU_DIGITAL_SIGNATURE) != 0) {
            bits += "digitalSignature,";
        }
        if ((keyUsage & KU_NON_REPUDIATION) != 0) {
            bits += "nonRepudiation,";
        }
        if ((keyUsage & KU_KEY_ENCIPHERMENT) != 0) {
            bits += "keyEncipherment,";
        }
        bits.pop_back();
        const std::unique_ptr<X509_EXTENSION, Free> ext(
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, bits.c_str()));
        X509_add_ext(cert.get(), ext.get(), -1);
    }
    X509_sign(cert.get(), key.get(), EVP_sha256());
    const int length = i2d_X509(cert.get(), nullptr);
    std::vector<uint8_t> der(static_cast<std::size_t>(length > 0 ? length : 0));
    unsigned char* out = der.data();
    i2d_X509(cert.get(), &out);
    return der;
}

std::string DateIn(int days) {
    const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * kDay;
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

} // namespace dlgtest
