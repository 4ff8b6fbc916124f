#include "vcard/TrustCenter.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace vcard {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct ExtFree {
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
struct ObjFree {
    void operator()(ASN1_OBJECT* p) const { ASN1_OBJECT_free(p); }
};
struct OctetFree {
    void operator()(ASN1_OCTET_STRING* p) const { ASN1_OCTET_STRING_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using UniqueX509 = std::unique_ptr<X509, X509Free>;
using UniqueBio = std::unique_ptr<BIO, BioFree>;
using UniqueExt = std::unique_ptr<X509_EXTENSION, ExtFree>;
using UniqueObj = std::unique_ptr<ASN1_OBJECT, ObjFree>;
using UniqueOctet = std::unique_ptr<ASN1_OCTET_STRING, OctetFree>;
using UniqueBn = std::unique_ptr<BIGNUM, BnFree>;

constexpr int kCaKeyBits = 2048;
constexpr long kDay = 24 * 60 * 60;
constexpr int kCaDays = 20 * 365;
constexpr int kCardDays = 3 * 365;

constexpr const char* kOrganization = "Velkora Demo Trust Center";
constexpr const char* kRootName = "Velkora Demo Root CA";
constexpr const char* kIssuingName = "Velkora Demo Issuing CA 1";

// qcStatements with the one statement QcCompliance (0.4.0.1862.1.1):
//   SEQUENCE { SEQUENCE { OBJECT IDENTIFIER 0.4.0.1862.1.1 } }
constexpr uint8_t kQcStatements[] = {0x30, 0x0A, 0x30, 0x08, 0x06, 0x06,
                                     0x04, 0x00, 0x8E, 0x46, 0x01, 0x01};
constexpr const char* kQcStatementsOid = "1.3.6.1.5.5.7.1.3";

bool AddName(X509_NAME* name, const char* field, const std::string& value, int type) {
    return value.empty() ||
           X509_NAME_add_entry_by_txt(name, field, type,
                                      reinterpret_cast<const unsigned char*>(value.data()),
                                      static_cast<int>(value.size()), -1, 0) == 1;
}

bool AddConfExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    UniqueExt ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool AddQcStatements(X509* cert) {
    UniqueObj oid(OBJ_txt2obj(kQcStatementsOid, 1));
    UniqueOctet value(ASN1_OCTET_STRING_new());
    if (!oid || !value ||
        ASN1_OCTET_STRING_set(value.get(), kQcStatements, static_cast<int>(sizeof kQcStatements)) !=
            1) {
        return false;
    }
    UniqueExt ext(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

// A positive random serial of 16 bytes.
bool SetRandomSerial(X509* cert) {
    uint8_t bytes[16] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return false;
    }
    bytes[0] = static_cast<uint8_t>((bytes[0] & 0x7F) | 0x10);
    UniqueBn bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return bn && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

// The parts every certificate shares: version 3, serial, validity from a day
// ago, subject, issuer name and public key.
UniqueX509 NewCertificate(X509_NAME* subject, X509_NAME* issuerName, EVP_PKEY* publicKey,
                          int days) {
    UniqueX509 cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !SetRandomSerial(cert.get()) ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kDay) ||
        !X509_time_adj_ex(X509_getm_notAfter(cert.get()), days, 0, nullptr) ||
        X509_set_subject_name(cert.get(), subject) != 1 ||
        X509_set_issuer_name(cert.get(), issuerName) != 1 ||
        X509_set_pubkey(cert.get(), publicKey) != 1) {
        return nullptr;
    }
    return cert;
}

struct NameFree {
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
};
using UniqueName = std::unique_ptr<X509_NAME, NameFree>;

UniqueName CaName(const char* commonName) {
    UniqueName name(X509_NAME_new());
    if (!name || !AddName(name.get(), "C", "DE", MBSTRING_ASC) ||
        !AddName(name.get(), "O", kOrganization, MBSTRING_UTF8) ||
        !AddName(name.get(), "CN", commonName, MBSTRING_UTF8)) {
        return nullptr;
    }
    return name;
}

// A CA certificate; `issuer` null makes it self-signed with `key`.
UniqueX509 MakeCa(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                  const char* basicConstraints) {
    UniqueName subject = CaName(commonName);
    if (!subject) {
        return nullptr;
    }
    X509_NAME* issuerName = issuer ? X509_get_subject_name(issuer) : subject.get();
    UniqueX509 cert = NewCertificate(subject.get(), issuerName, key, kCaDays);
    if (!cert) {
        return nullptr;
    }
    X509* signer = issuer ? issuer : cert.get();
    if (!AddConfExtension(cert.get(), signer, NID_basic_constraints, basicConstraints) ||
        !AddConfExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !AddConfExtension(cert.get(), signer, NID_subject_key_identifier, "hash") ||
        !AddConfExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always") ||
        X509_sign(cert.get(), issuer ? issuerKey : key, EVP_sha256()) <= 0) {
        return nullptr;
    }
    return cert;
}

Bytes ToDer(X509* cert) {
    const int length = i2d_X509(cert, nullptr);
    if (length <= 0) {
        return {};
    }
    Bytes der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509(cert, &out) != length) {
        return {};
    }
    return der;
}

} // namespace

struct TrustCenter::Keys {
    UniquePkey rootKey;
    UniqueX509 root;
    UniquePkey issuingKey;
    UniqueX509 issuing;
};

TrustCenter::TrustCenter(std::unique_ptr<Keys> keys) : m_keys(std::move(keys)) {}
TrustCenter::~TrustCenter() = default;
TrustCenter::TrustCenter(TrustCenter&&) noexcept = default;
TrustCenter& TrustCenter::operator=(TrustCenter&&) noexcept = default;

std::optional<TrustCenter> TrustCenter::Create() {
    auto keys = std::make_unique<Keys>();
    keys->rootKey.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{kCaKeyBits}));
    keys->issuingKey.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{kCaKeyBits}));
    if (!keys->rootKey || !keys->issuingKey) {
        return std::nullopt;
    }
    keys->root = MakeCa(kRootName, keys->rootKey.get(), nullptr, nullptr, "critical,CA:TRUE");
    if (!keys->root) {
        return std::nullopt;
    }
    keys->issuing = MakeCa(kIssuingName, keys->issuingKey.get(), keys->root.get(),
                           keys->rootKey.get(), "critical,CA:TRUE,pathlen:0");
    if (!keys->issuing) {
        return std::nullopt;
    }
    return TrustCenter(std::move(keys));
}

std::optional<TrustCenter> TrustCenter::Load(const std::string& path) {
    UniqueBio in(BIO_new_file(path.c_str(), "r"));
    if (!in) {
        return std::nullopt;
    }
    auto keys = std::make_unique<Keys>();
    keys->rootKey.reset(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    keys->root.reset(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    keys->issuingKey.reset(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    keys->issuing.reset(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    if (!keys->rootKey || !keys->root || !keys->issuingKey || !keys->issuing ||
        X509_check_private_key(keys->root.get(), keys->rootKey.get()) != 1 ||
        X509_check_private_key(keys->issuing.get(), keys->issuingKey.get()) != 1) {
        return std::nullopt;
    }
    return TrustCenter(std::move(keys));
}

bool TrustCenter::Save(const std::string& path) const {
    UniqueBio out(BIO_new(BIO_s_mem()));
    if (!out ||
        PEM_write_bio_PrivateKey(out.get(), m_keys->rootKey.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1 ||
        PEM_write_bio_X509(out.get(), m_keys->root.get()) != 1 ||
        PEM_write_bio_PrivateKey(out.get(), m_keys->issuingKey.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1 ||
        PEM_write_bio_X509(out.get(), m_keys->issuing.get()) != 1) {
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    if (length <= 0 || data == nullptr) {
        return false;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    for (long done = 0; ok && done < length;) {
        const ssize_t n = write(fd, data + done, static_cast<size_t>(length - done));
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? n : 0;
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    // link() refuses an existing name: two cards made at once in one folder
    // cannot replace each other's trust center.
    ok = ok && link(temp.c_str(), path.c_str()) == 0;
    unlink(temp.c_str());
    return ok;
}

Bytes TrustCenter::RootCertificate() const {
    return ToDer(m_keys->root.get());
}

Bytes TrustCenter::IssuingCertificate() const {
    return ToDer(m_keys->issuing.get());
}

std::optional<Bytes> TrustCenter::Issue(const CertRequest& request) const {
    const unsigned char* p = request.subjectPublicKeyInfo.data();
    UniquePkey publicKey(
        d2i_PUBKEY(nullptr, &p, static_cast<long>(request.subjectPublicKeyInfo.size())));
    UniqueName subject(X509_NAME_new());
    if (!publicKey || !subject || !AddName(subject.get(), "C", "DE", MBSTRING_ASC) ||
        !AddName(subject.get(), "CN", request.commonName, MBSTRING_UTF8) ||
        !AddName(subject.get(), "serialNumber", request.serialNumber, MBSTRING_ASC) ||
        !AddName(subject.get(), "emailAddress", request.email, MBSTRING_ASC)) {
        return std::nullopt;
    }
    X509* issuer = m_keys->issuing.get();
    UniqueX509 cert =
        NewCertificate(subject.get(), X509_get_subject_name(issuer), publicKey.get(), kCardDays);
    if (!cert) {
        return std::nullopt;
    }
    const char* keyUsage = "critical,digitalSignature";
    const char* extendedKeyUsage = nullptr;
    switch (request.kind) {
    case CertKind::Signature:
        keyUsage = "critical,nonRepudiation";
        break;
    case CertKind::Authentication:
        keyUsage = "critical,digitalSignature";
        extendedKeyUsage = "clientAuth,emailProtection";
        break;
    case CertKind::Encryption:
        keyUsage = "critical,keyEncipherment,dataEncipherment";
        extendedKeyUsage = "emailProtection";
        break;
    case CertKind::CardAuthentication:
        keyUsage = "critical,digitalSignature";
        extendedKeyUsage = "clientAuth";
        break;
    }
    const std::string altName = "email:" + request.email;
    const std::string filler(request.fillerBytes, 'x');
    if (!AddConfExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:FALSE") ||
        !AddConfExtension(cert.get(), issuer, NID_key_usage, keyUsage) ||
        (extendedKeyUsage &&
         !AddConfExtension(cert.get(), issuer, NID_ext_key_usage, extendedKeyUsage)) ||
        (!request.email.empty() &&
         !AddConfExtension(cert.get(), issuer, NID_subject_alt_name, altName.c_str())) ||
        !AddConfExtension(cert.get(), issuer, NID_subject_key_identifier, "hash") ||
        !AddConfExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid:always") ||
        (request.kind == CertKind::Signature && !AddQcStatements(cert.get())) ||
        (!filler.empty() &&
         !AddConfExtension(cert.get(), issuer, NID_netscape_comment, filler.c_str())) ||
        X509_sign(cert.get(), m_keys->issuingKey.get(), EVP_sha256()) <= 0) {
        return std::nullopt;
    }
    Bytes der = ToDer(cert.get());
    if (der.empty()) {
        return std::nullopt;
    }
    return der;
}

std::shared_ptr<const TrustCenter> TrustCenterFor(const std::string& imagePath) {
    std::string path;
    if (const char* env = std::getenv("VELKORA_TRUST_CENTER"); env && *env) {
        path = env;
    } else if (!imagePath.empty()) {
        const std::filesystem::path folder = std::filesystem::path(imagePath).parent_path();
        path = (folder.empty() ? std::filesystem::path("velkora-demo-tc.pem")
                               : folder / "velkora-demo-tc.pem")
                   .string();
    }
    if (path.empty()) {
        static std::mutex mutex;
        static std::shared_ptr<const TrustCenter> inMemory;
        std::lock_guard lock(mutex);
        if (!inMemory) {
            if (auto made = TrustCenter::Create()) {
                inMemory = std::make_shared<const TrustCenter>(std::move(*made));
            }
        }
        return inMemory;
    }
    if (auto loaded = TrustCenter::Load(path)) {
        return std::make_shared<const TrustCenter>(std::move(*loaded));
    }
    auto made = TrustCenter::Create();
    if (!made) {
        return nullptr;
    }
    if (made->Save(path)) {
        return std::make_shared<const TrustCenter>(std::move(*made));
    }
    // Another card made it first: take that one.
    if (auto loaded = TrustCenter::Load(path)) {
        return std::make_shared<const TrustCenter>(std::move(*loaded));
    }
    return nullptr;
}

} // namespace vcard
