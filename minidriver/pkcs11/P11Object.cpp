#include "minidriver/pkcs11/P11Object.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace velkp11 {

namespace {

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};

// What the key is for, by where it sits on a T-COS 3.0 card.
std::string_view RoleOf(const velkmd::CardSlot& slot) {
    if (slot.df == 0xDF01) {
        return "SigG";
    }
    switch (slot.keyFid) {
    case 0x4531:
        return "Signature";
    case 0x45B1:
        return "Encryption";
    case 0x4571:
        return "Authentication";
    default:
        return "Key";
    }
}

Bytes Ulong(CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes Bool(bool v) {
    return Bytes{static_cast<uint8_t>(v ? CK_TRUE : CK_FALSE)};
}

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

template <typename T, int (*Encode)(const T*, unsigned char**)> Bytes Der(const T* item) {
    const int length = Encode(item, nullptr);
    if (length <= 0) {
        return {};
    }
    Bytes out(static_cast<size_t>(length));
    unsigned char* p = out.data();
    Encode(item, &p);
    return out;
}

Bytes BigEndian(const BIGNUM* n) {
    Bytes out(static_cast<size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    return out;
}

} // namespace

bool P11Object::Flag(CK_ATTRIBUTE_TYPE type) const {
    const auto it = attributes.find(type);
    return it != attributes.end() && it->second.size() == 1 && it->second[0] == CK_TRUE;
}

std::optional<std::vector<P11Object>> ObjectsOfContainer(const velkmd::CardSlot& slot,
                                                         std::span<const uint8_t> der,
                                                         CK_OBJECT_HANDLE& nextHandle) {
    const unsigned char* p = der.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert) {
        return std::nullopt;
    }
    const EVP_PKEY* key = X509_get0_pubkey(cert.get());
    if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
        return std::nullopt;
    }
    BIGNUM* rawN = nullptr;
    BIGNUM* rawE = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &rawN);
    std::unique_ptr<BIGNUM, BnFree> n(rawN);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &rawE);
    std::unique_ptr<BIGNUM, BnFree> e(rawE);
    if (!n || !e) {
        return std::nullopt;
    }
    const Bytes id{static_cast<uint8_t>(slot.df >> 8), static_cast<uint8_t>(slot.df),
                   static_cast<uint8_t>(slot.keyFid >> 8), static_cast<uint8_t>(slot.keyFid)};
    const Bytes label = Text(RoleOf(slot));
    const Bytes subject = Der<X509_NAME, i2d_X509_NAME>(X509_get_subject_name(cert.get()));
    const Bytes modulus = BigEndian(n.get());
    const Bytes exponent = BigEndian(e.get());
    const auto bits = static_cast<CK_ULONG>(BN_num_bits(n.get()));
    // The signature application's key signs only, and the card wants its PIN
    // before every signature.
    const bool signatureApp = slot.df == 0xDF01;

    auto common = [&](CK_OBJECT_CLASS cls) {
        P11Object o;
        o.handle = nextHandle++;
        o.objectClass = cls;
        o.slot = slot;
        o.modulusBytes = static_cast<CK_ULONG>(modulus.size());
        o.attributes = {{CKA_CLASS, Ulong(cls)},    {CKA_TOKEN, Bool(true)},
                        {CKA_PRIVATE, Bool(false)}, {CKA_MODIFIABLE, Bool(false)},
                        {CKA_LABEL, label},         {CKA_ID, id},
                        {CKA_SUBJECT, subject}};
        return o;
    };

    P11Object certificate = common(CKO_CERTIFICATE);
    certificate.attributes.insert({
        {CKA_CERTIFICATE_TYPE, Ulong(CKC_X_509)},
        {CKA_TRUSTED, Bool(false)},
        {CKA_CERTIFICATE_CATEGORY, Ulong(1)}, // the token's user
        {CKA_ISSUER, Der<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(cert.get()))},
        {CKA_SERIAL_NUMBER,
         Der<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(cert.get()))},
        {CKA_VALUE, Bytes(der.begin(), der.end())},
    });

    auto rsa = [&](P11Object& o) {
        o.attributes.insert({{CKA_KEY_TYPE, Ulong(CKK_RSA)},
                             {CKA_MODULUS, modulus},
                             {CKA_MODULUS_BITS, Ulong(bits)},
                             {CKA_PUBLIC_EXPONENT, exponent},
                             {CKA_LOCAL, Bool(false)},
                             {CKA_DERIVE, Bool(false)}});
    };
    P11Object publicKey = common(CKO_PUBLIC_KEY);
    rsa(publicKey);
    publicKey.attributes.insert({{CKA_VERIFY, Bool(true)},
                                 {CKA_VERIFY_RECOVER, Bool(false)},
                                 {CKA_ENCRYPT, Bool(!signatureApp)},
                                 {CKA_WRAP, Bool(false)}});

    P11Object privateKey = common(CKO_PRIVATE_KEY);
    rsa(privateKey);
    privateKey.attributes.insert({{CKA_SIGN, Bool(true)},
                                  {CKA_SIGN_RECOVER, Bool(false)},
                                  {CKA_DECRYPT, Bool(!signatureApp)},
                                  {CKA_UNWRAP, Bool(false)},
                                  {CKA_SENSITIVE, Bool(true)},
                                  {CKA_ALWAYS_SENSITIVE, Bool(true)},
                                  {CKA_EXTRACTABLE, Bool(false)},
                                  {CKA_NEVER_EXTRACTABLE, Bool(true)},
                                  {CKA_ALWAYS_AUTHENTICATE, Bool(signatureApp)}});

    std::vector<P11Object> objects;
    objects.push_back(std::move(certificate));
    objects.push_back(std::move(publicKey));
    objects.push_back(std::move(privateKey));
    return objects;
}

} // namespace velkp11
