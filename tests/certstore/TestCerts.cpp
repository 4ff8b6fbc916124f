#include "tests/certstore/TestCerts.h"

#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>

namespace velktest {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
struct OctetFree {
    void operator()(ASN1_OCTET_STRING* s) const { ASN1_OCTET_STRING_free(s); }
};
struct ObjectFree {
    void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};

KeyPtr Wrap(EVP_PKEY* key) {
    return KeyPtr(key, EVP_PKEY_free);
}

// qcStatements with one statement, QcCompliance (0.4.0.1862.1.1).
void AddQcStatements(X509* x) {
    static const unsigned char kValue[] = {0x30, 0x0A, 0x30, 0x08, 0x06, 0x06,
                                           0x04, 0x00, 0x8E, 0x46, 0x01, 0x01};
    std::unique_ptr<ASN1_OBJECT, ObjectFree> oid(OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1));
    std::unique_ptr<ASN1_OCTET_STRING, OctetFree> data(ASN1_OCTET_STRING_new());
    ASN1_OCTET_STRING_set(data.get(), kValue, sizeof kValue);
    std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
        X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, data.get()));
    X509_add_ext(x, extension.get(), -1);
}

void AddV3Extension(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
        X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (extension) {
        X509_add_ext(x, extension.get(), -1);
    }
}

} // namespace

KeyPtr NewEcKey() {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    if (ctx && EVP_PKEY_keygen_init(ctx.get()) > 0 &&
        EVP_PKEY_CTX_set_group_name(ctx.get(), "P-256") > 0) {
        EVP_PKEY_generate(ctx.get(), &key);
    }
    return Wrap(key);
}

KeyPtr NewRsaKey(int bits) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    if (ctx && EVP_PKEY_keygen_init(ctx.get()) > 0 &&
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) > 0) {
        EVP_PKEY_generate(ctx.get(), &key);
    }
    return Wrap(key);
}

TestCert MakeCert(const CertRecipe& recipe) {
    TestCert out;
    out.key = recipe.key ? recipe.key : NewEcKey();
    std::unique_ptr<X509, X509Free> x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), recipe.serial);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400L * 365);
    X509_NAME* subject = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Velkora Test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(recipe.commonName.c_str()),
                               -1, -1, 0);
    X509_set_pubkey(x.get(), out.key.get());

    std::unique_ptr<X509, X509Free> issuerCert;
    EVP_PKEY* signingKey = out.key.get();
    if (recipe.issuer) {
        const unsigned char* p = recipe.issuer->der.data();
        issuerCert.reset(d2i_X509(nullptr, &p, static_cast<long>(recipe.issuer->der.size())));
        signingKey = recipe.issuer->key.get();
    }
    if (issuerCert && !recipe.issuerNameIsSubject) {
        X509_set_issuer_name(x.get(), X509_get_subject_name(issuerCert.get()));
    } else {
        X509_set_issuer_name(x.get(), subject);
    }
    X509* issuerForExtensions = issuerCert ? issuerCert.get() : x.get();
    AddV3Extension(x.get(), issuerForExtensions, NID_subject_key_identifier, "hash");
    if (!recipe.issuer) {
        AddV3Extension(x.get(), issuerForExtensions, NID_basic_constraints, "critical,CA:TRUE");
    }
    if (recipe.qcStatements) {
        AddQcStatements(x.get());
    }
    X509_sign(x.get(), signingKey, EVP_sha256());
    const int length = i2d_X509(x.get(), nullptr);
    out.der.resize(static_cast<size_t>(length > 0 ? length : 0));
    unsigned char* p = out.der.data();
    i2d_X509(x.get(), &p);
    return out;
}

std::string Thumbprint(const std::vector<uint8_t>& der) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), digest);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : digest) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string Thumbprint(PCCERT_CONTEXT context) {
    return Thumbprint(std::vector<uint8_t>(context->pbCertEncoded,
                                           context->pbCertEncoded + context->cbCertEncoded));
}

Store OpenUserStore(const char* name) {
    return Store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                               CERT_SYSTEM_STORE_CURRENT_USER, name));
}

Context CreateContext(const std::vector<uint8_t>& der) {
    return Context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size())));
}

std::vector<std::string> StoreThumbprints(const char* name) {
    std::vector<std::string> out;
    Store store = OpenUserStore(name);
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
        out.push_back(Thumbprint(context));
    }
    return out;
}

bool SetKeyLink(PCCERT_CONTEXT context, const std::u16string& container,
                const std::u16string& provider, DWORD keySpec) {
    std::u16string c = container;
    std::u16string p = provider;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = c.data();
    info.pwszProvName = p.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = keySpec;
    return CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) !=
           FALSE;
}

std::u16string KeyLinkContainer(PCCERT_CONTEXT context) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        return {};
    }
    std::vector<uint64_t> buffer(size / 8 + 1);
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                           &size)) {
        return {};
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    return info->pwszContainerName ? std::u16string(info->pwszContainerName) : std::u16string();
}

bool AddToUserStore(const char* name, const TestCert& cert, DWORD disposition) {
    Store store = OpenUserStore(name);
    return store && CertAddEncodedCertificateToStore(
                        store.get(), X509_ASN_ENCODING, cert.der.data(),
                        static_cast<DWORD>(cert.der.size()), disposition, nullptr) != FALSE;
}

} // namespace velktest
