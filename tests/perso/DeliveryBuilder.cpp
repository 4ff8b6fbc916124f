#include "tests/perso/DeliveryBuilder.h"

#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/pkcs7.h>
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

void AppendTlv(Bytes& out, uint8_t tag, const Bytes& value) {
    out.push_back(tag);
    const std::size_t n = value.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else if (n < 0x10000) {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x83, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), value.begin(), value.end());
}

Bytes Tlv(uint8_t tag, const Bytes& value) {
    Bytes out;
    AppendTlv(out, tag, value);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
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

Bytes CertsOnlyP7(const std::vector<Bytes>& certificates) {
    Bytes certs;
    for (const auto& cert : certificates) {
        certs.insert(certs.end(), cert.begin(), cert.end());
    }
    const Bytes signedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    const Bytes dataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
    const Bytes signedData = Tlv(0x30, Concat({{0x02, 0x01, 0x01},
                                               {0x31, 0x00},
                                               Tlv(0x30, dataOid),
                                               Tlv(0xA0, certs),
                                               {0x31, 0x00}}));
    return Tlv(0x30, Concat({signedDataOid, Tlv(0xA0, signedData)}));
}

Bytes Delivery(const Bytes& plaintext, const std::string& telePassword) {
    std::string key = telePassword;
    while (key.size() < 24) {
        key += telePassword;
    }
    key.resize(24);
    const Bytes iv(8, 0x5A);
    Bytes ciphertext(plaintext.size() + 8);
    std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>> ctx(EVP_CIPHER_CTX_new());
    int length = 0;
    int last = 0;
    Check(ctx &&
              EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr,
                                 reinterpret_cast<const unsigned char*>(key.data()),
                                 iv.data()) == 1 &&
              EVP_EncryptUpdate(ctx.get(), ciphertext.data(), &length, plaintext.data(),
                                static_cast<int>(plaintext.size())) == 1 &&
              EVP_EncryptFinal_ex(ctx.get(), ciphertext.data() + length, &last) == 1,
          "Triple-DES");
    ciphertext.resize(static_cast<std::size_t>(length + last));
    const Bytes signedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    const Bytes desOid = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};
    const Bytes algorithm = Tlv(0x30, Concat({desOid, Tlv(0x04, iv)}));
    const Bytes contentInfo = Tlv(0x30, Concat({signedDataOid, algorithm, Tlv(0x80, ciphertext)}));
    return Tlv(0x30, Tlv(0x30, Concat({{0x02, 0x01, 0x00}, contentInfo})));
}

Bytes Envelope(const Bytes& content, const Bytes& recipientCertificate) {
    const unsigned char* p = recipientCertificate.data();
    CertPtr cert(d2i_X509(nullptr, &p, static_cast<long>(recipientCertificate.size())));
    struct StackFree {
        void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
    };
    std::unique_ptr<STACK_OF(X509), StackFree> recipients(sk_X509_new_null());
    Check(cert && recipients && sk_X509_push(recipients.get(), cert.get()) > 0, "recipient");
    std::unique_ptr<BIO, Deleter<BIO_free>> in(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>> cms(
        CMS_encrypt(recipients.get(), in.get(), EVP_aes_256_cbc(), CMS_BINARY));
    Check(cms != nullptr, "CMS envelope");
    return Der(cms.get(), i2d_CMS_ContentInfo);
}

} // namespace persotest
