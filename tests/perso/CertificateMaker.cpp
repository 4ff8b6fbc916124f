#include "tests/perso/CertificateMaker.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace persotest {
namespace {

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

template <typename T, typename F> Bytes Der(T* object, F encode) {
    unsigned char* out = nullptr;
    const int length = encode(object, &out);
    Check(length > 0, "DER encoding");
    Bytes bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}

KeyPtr RsaKey(int bits) {
    KeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    Check(key != nullptr, "RSA key");
    return key;
}

KeyPtr PublicKeyForModulus(const Bytes& modulus) {
    std::unique_ptr<BIGNUM, Deleter<BN_free>> n(
        BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
    std::unique_ptr<BIGNUM, Deleter<BN_free>> e(BN_new());
    Check(n && e && BN_set_word(e.get(), 65537) == 1, "modulus");
    std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD_free>> build(OSSL_PARAM_BLD_new());
    Check(build && OSSL_PARAM_BLD_push_BN(build.get(), "n", n.get()) == 1 &&
              OSSL_PARAM_BLD_push_BN(build.get(), "e", e.get()) == 1,
          "key parameters");
    std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM_free>> params(
        OSSL_PARAM_BLD_to_param(build.get()));
    std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    Check(params && ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
              EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) == 1,
          "public key");
    return KeyPtr(key);
}

Bytes Certificate(EVP_PKEY* subjectKey, EVP_PKEY* signingKey, const std::string& commonName,
                  std::size_t padding = 0) {
    CertPtr cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    if (padding > 0) {
        std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT_free>> oid(
            OBJ_txt2obj("1.3.6.1.4.1.55555.1", 1));
        std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING_free>> value(
            ASN1_OCTET_STRING_new());
        const Bytes filler(padding, 0x55);
        Check(oid && value &&
                  ASN1_OCTET_STRING_set(value.get(), filler.data(), static_cast<int>(padding)) == 1,
              "padding");
        std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>> extension(
            X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
        Check(extension && X509_add_ext(cert.get(), extension.get(), -1) == 1, "extension");
    }
    Check(X509_set_pubkey(cert.get(), subjectKey) == 1 &&
              X509_sign(cert.get(), signingKey, EVP_sha256()) > 0,
          "signing");
    return Der(cert.get(), i2d_X509);
}

} // namespace

TestCert MakeCertificate(int bits, const std::string& commonName) {
    const KeyPtr key = RsaKey(bits);
    BIGNUM* n = nullptr;
    Check(EVP_PKEY_get_bn_param(key.get(), "n", &n) == 1, "modulus");
    Bytes modulus(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, modulus.data());
    BN_free(n);
    return {Certificate(key.get(), key.get(), commonName), modulus};
}

Bytes CertificateForModulus(const Bytes& modulus, const std::string& commonName,
                            std::size_t padding) {
    const KeyPtr subject = PublicKeyForModulus(modulus);
    const KeyPtr signer = RsaKey(1024);
    return Certificate(subject.get(), signer.get(), commonName, padding);
}

} // namespace persotest
