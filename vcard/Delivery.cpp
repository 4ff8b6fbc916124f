#include "vcard/Delivery.h"

#include "vcard/CertIssuance.h"
#include "vcard/Profile.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <memory>

namespace vcard {

namespace {

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct X509StackFree {
    void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct CmsFree {
    void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
};

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kContextZero = 0xA0;          // [0], constructed
constexpr uint8_t kContextZeroPrimitive = 0x80; // [0] IMPLICIT OCTET STRING

// 1.2.840.113549.1.7.1 (data), .7.2 (signedData), 1.2.840.113549.3.7 (des-ede3-cbc)
const Bytes kOidData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const Bytes kOidSignedData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kOidDesEde3Cbc = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};

// Tag, DER length (short or long form), content.
Bytes Tlv(uint8_t tag, std::span<const uint8_t> content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        uint8_t digits[sizeof(size_t)] = {};
        size_t count = 0;
        for (size_t rest = n; rest != 0; rest >>= 8) {
            digits[count++] = static_cast<uint8_t>(rest & 0xFF);
        }
        out.push_back(static_cast<uint8_t>(0x80 | count));
        while (count > 0) {
            out.push_back(digits[--count]);
        }
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Concat(std::initializer_list<std::span<const uint8_t>> parts) {
    Bytes out;
    for (auto part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const EVP_CIPHER* CipherOf(EnvelopeCipher cipher) {
    switch (cipher) {
    case EnvelopeCipher::Aes128Cbc:
        return EVP_aes_128_cbc();
    case EnvelopeCipher::Aes192Cbc:
        return EVP_aes_192_cbc();
    case EnvelopeCipher::Aes256Cbc:
        return EVP_aes_256_cbc();
    case EnvelopeCipher::DesEde3Cbc:
        return EVP_des_ede3_cbc();
    }
    return nullptr;
}

std::optional<Bytes> TripleDesCbc(std::span<const uint8_t> plaintext, const TelePasswordKey& key) {
    if (plaintext.size() > static_cast<size_t>(INT_MAX) - 8) {
        return std::nullopt;
    }
    uint8_t iv[8];
    std::fill(std::begin(iv), std::end(iv), kDeliveryIvByte);
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key.bytes, iv) != 1) {
        return std::nullopt;
    }
    // PKCS #7 padding (on by default) fills up to the next multiple of 8.
    Bytes out(plaintext.size() + 8);
    int written = 0;
    int last = 0;
    if (EVP_EncryptUpdate(ctx.get(), out.data(), &written, plaintext.data(),
                          static_cast<int>(plaintext.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
        return std::nullopt;
    }
    out.resize(static_cast<size_t>(written) + static_cast<size_t>(last));
    return out;
}

} // namespace

TelePasswordKey::~TelePasswordKey() {
    OPENSSL_cleanse(bytes, sizeof bytes);
}

bool DeriveTelePasswordKey(std::string_view telePassword, TelePasswordKey& key) {
    if (telePassword.empty()) {
        return false;
    }
    for (size_t i = 0; i < sizeof key.bytes; ++i) {
        key.bytes[i] = static_cast<uint8_t>(telePassword[i % telePassword.size()]);
    }
    return true;
}

std::optional<std::vector<Bytes>>
IssueDeliveryCertificates(const CardState& card, const TrustCenter& tc,
                          std::span<const std::string_view> keyFiles) {
    const auto profile = FindProfile(card.profile);
    std::vector<Bytes> certificates;
    for (std::string_view keyFile : keyFiles) {
        const CertSlot* slot = SlotOfKeyFile(keyFile);
        if (slot == nullptr) {
            return std::nullopt;
        }
        CertRequest request;
        if (slot->kind == CertKind::CardAuthentication) {
            request.commonName = "Card Authentication";
        } else if (profile) {
            request.commonName = profile->holderName;
            request.email = profile->holderEmail;
        }
        auto der = IssueSlotCertificate(card, *slot, std::move(request), tc);
        if (!der) {
            return std::nullopt;
        }
        certificates.push_back(std::move(*der));
    }
    return certificates;
}

Bytes BuildCertsOnlySignedData(std::span<const Bytes> certificates) {
    Bytes certs;
    for (const Bytes& cert : certificates) {
        certs.insert(certs.end(), cert.begin(), cert.end());
    }
    const uint8_t version[] = {kInteger, 0x01, 0x01};
    const uint8_t emptySet[] = {kSet, 0x00};
    const Bytes dataContentInfo = Tlv(kSequence, kOidData);
    const Bytes signedData =
        Tlv(kSequence,
            Concat({version, emptySet, dataContentInfo, Tlv(kContextZero, certs), emptySet}));
    return Tlv(kSequence, Concat({kOidSignedData, Tlv(kContextZero, signedData)}));
}

std::optional<Bytes> EncryptDelivery(std::span<const uint8_t> plaintext,
                                     std::string_view telePassword) {
    TelePasswordKey key;
    if (!DeriveTelePasswordKey(telePassword, key)) {
        return std::nullopt;
    }
    const auto ciphertext = TripleDesCbc(plaintext, key);
    if (!ciphertext) {
        return std::nullopt;
    }
    const uint8_t version[] = {kInteger, 0x01, 0x00};
    Bytes iv(8, kDeliveryIvByte);
    const Bytes algorithm = Tlv(kSequence, Concat({kOidDesEde3Cbc, Tlv(kOctetString, iv)}));
    const Bytes contentInfo = Tlv(
        kSequence, Concat({kOidSignedData, algorithm, Tlv(kContextZeroPrimitive, *ciphertext)}));
    return Tlv(kSequence, Tlv(kSequence, Concat({version, contentInfo})));
}

std::optional<Bytes> EnvelopForRecipient(std::span<const uint8_t> recipientCertDer,
                                         std::span<const uint8_t> content, EnvelopeCipher cipher) {
    if (recipientCertDer.size() > static_cast<size_t>(LONG_MAX) ||
        content.size() > static_cast<size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const unsigned char* p = recipientCertDer.data();
    std::unique_ptr<X509, X509Free> cert(
        d2i_X509(nullptr, &p, static_cast<long>(recipientCertDer.size())));
    std::unique_ptr<STACK_OF(X509), X509StackFree> recipients(sk_X509_new_null());
    if (!cert || !recipients || sk_X509_push(recipients.get(), cert.get()) <= 0) {
        return std::nullopt;
    }
    std::unique_ptr<BIO, BioFree> in(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    if (!in) {
        return std::nullopt;
    }
    // Without CMS_BINARY the content would be taken as text and its line ends changed.
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(
        CMS_encrypt(recipients.get(), in.get(), CipherOf(cipher), CMS_BINARY));
    if (!cms) {
        return std::nullopt;
    }
    const int length = i2d_CMS_ContentInfo(cms.get(), nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Bytes der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    if (i2d_CMS_ContentInfo(cms.get(), &out) != length) {
        return std::nullopt;
    }
    return der;
}

std::optional<Bytes> CardAuthenticationCertificate(const CardState& card) {
    const auto path = ParseCardPath(kCardSlot.certFile);
    const CardFile* file = path ? card.files.Find(*path) : nullptr;
    if (file == nullptr || file->kind != FileKind::Transparent || file->content.empty()) {
        return std::nullopt;
    }
    // The parser tells where the certificate ends; the rest of the file is 00.
    const unsigned char* p = file->content.data();
    std::unique_ptr<X509, X509Free> cert(
        d2i_X509(nullptr, &p, static_cast<long>(file->content.size())));
    if (!cert) {
        return std::nullopt;
    }
    return Bytes(file->content.data(), p);
}

std::optional<Bytes> MakeDeliveryP7M(const CardState& card, std::span<const Bytes> certificates,
                                     std::string_view telePassword, EnvelopeCipher cipher) {
    const auto recipient = CardAuthenticationCertificate(card);
    if (!recipient) {
        return std::nullopt;
    }
    const auto delivery = EncryptDelivery(BuildCertsOnlySignedData(certificates), telePassword);
    if (!delivery) {
        return std::nullopt;
    }
    return EnvelopForRecipient(*recipient, *delivery, cipher);
}

std::optional<Bytes> MakeDeliveryP7M(const CardState& card, const TrustCenter& tc,
                                     std::string_view telePassword,
                                     std::span<const std::string_view> keyFiles) {
    const auto certificates = IssueDeliveryCertificates(card, tc, keyFiles);
    if (!certificates) {
        return std::nullopt;
    }
    return MakeDeliveryP7M(card, *certificates, telePassword);
}

} // namespace vcard
