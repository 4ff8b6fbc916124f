// The demo trust center's P7M for a delivered card, opened the way the card
// and the personalization open it: the card's own key 4571, the program's
// DER walk to the ciphertext, Triple-DES under the tele-password.

#include "vcard/Delivery.h"
#include "asn1/CASN1.h"
#include "vcard/CardImage.h"
#include "vcard/CertIssuance.h"
#include "vcard/FreshCard.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>

namespace {

using vcard::Bytes;
namespace fs = std::filesystem;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using UniqueCms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using UniqueBio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using UniquePkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using UniqueX509 = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using UniquePkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using UniqueCipherCtx =
    std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int RunTool(const std::string& args) {
    const int status = std::system((std::string(VELK_TRUSTCENTER_BINARY) + " " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the card does with key 4571: RSA key transport of the CMS envelope.
Bytes OpenWithCardKey(const Bytes& p7m, const vcard::CardState& card) {
    const vcard::CardKey* cardKey = nullptr;
    for (const vcard::CardKey& key : card.keys) {
        if (key.keyFile == vcard::ParseCardPath("3f00df024571")) {
            cardKey = &key;
        }
    }
    if (cardKey == nullptr) {
        return {};
    }
    const unsigned char* k = cardKey->privateKeyDer.data();
    UniquePkey key(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &k,
                                  static_cast<long>(cardKey->privateKeyDer.size())));
    const auto certDer = vcard::CardAuthenticationCertificate(card);
    const unsigned char* c = certDer ? certDer->data() : nullptr;
    UniqueX509 cert(c ? d2i_X509(nullptr, &c, static_cast<long>(certDer->size())) : nullptr);
    const unsigned char* p = p7m.data();
    UniqueCms cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(p7m.size())));
    UniqueBio out(BIO_new(BIO_s_mem()));
    if (!key || !cert || !cms || !out ||
        CMS_decrypt(cms.get(), key.get(), cert.get(), nullptr, out.get(), CMS_BINARY) != 1) {
        return {};
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return Bytes(data, data + n);
}

// The walk of the personalization: Enter, Enter, Next, Enter, Next, Enter,
// Next, and past an OCTET STRING (the IV) once more.
Bytes WalkToCiphertext(const Bytes& delivery) {
    Asn1Cursor at = CASN1::Start(delivery);
    Asn1Cursor next;
    for (const bool enter : {true, true, false, true, false, true, false}) {
        if (!(enter ? CASN1::Enter(at, next) : CASN1::Next(at, next))) {
            return {};
        }
        at = next;
    }
    if (CASN1::TagOf(at) == CASN1::TAG_OCTET_STRING && CASN1::Next(at, next)) {
        at = next;
    }
    const auto value = CASN1::ContentBytes(at);
    return Bytes(value.begin(), value.end());
}

Bytes TripleDesDecrypt(const Bytes& ciphertext, std::string_view key24) {
    const uint8_t iv[8] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    UniqueCipherCtx ctx(EVP_CIPHER_CTX_new());
    Bytes plain(ciphertext.size());
    int n = 0;
    if (!ctx || key24.size() != 24 ||
        EVP_DecryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr,
                           reinterpret_cast<const uint8_t*>(key24.data()), iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &n, ciphertext.data(),
                          static_cast<int>(ciphertext.size())) != 1) {
        return {};
    }
    plain.resize(static_cast<size_t>(n));
    return plain;
}

Bytes ModulusOf(X509* cert) {
    UniquePkey key(X509_get_pubkey(cert));
    BIGNUM* n = nullptr;
    if (!key || EVP_PKEY_get_bn_param(key.get(), "n", &n) != 1) {
        return {};
    }
    Bytes out(static_cast<size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    BN_free(n);
    return out;
}

// Removed also when an assertion ends the test early.
struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/velk-delivery-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path = pattern;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

TEST(Delivery, P7mOpensWithTheCardKeyAndCarriesCertificatesOfTheCardsKeys) {
    const TempDir temp;
    ASSERT_FALSE(temp.path.empty());
    const fs::path& dir = temp.path;
    const auto profile = vcard::FindProfile("tcos30-blank");
    ASSERT_TRUE(profile);
    auto card = vcard::BuildFreshCard(*profile);
    auto tc = vcard::TrustCenter::Create();
    ASSERT_TRUE(card && tc);
    ASSERT_TRUE(vcard::IssueCardCertificates(*profile, *card, *tc));
    ASSERT_TRUE(vcard::SaveImage(dir / "card.img", *card));
    ASSERT_TRUE(tc->Save(dir / "velkora-demo-tc.pem"));

    // Ten characters: the key is the password twice and its first four.
    const std::string args = "deliver --image " + (dir / "card.img").string() + " --out " +
                             (dir / "card.p7m").string() + " --tele-password Tele10char";
    ASSERT_EQ(RunTool(args), 0);
    const Bytes p7m = ReadAll(dir / "card.p7m");
    EXPECT_EQ(RunTool(args), 1) << "an existing file is never replaced";
    EXPECT_EQ(ReadAll(dir / "card.p7m"), p7m);

    const Bytes delivery = OpenWithCardKey(p7m, *card);
    ASSERT_FALSE(delivery.empty());
    const Bytes ciphertext = WalkToCiphertext(delivery);
    ASSERT_FALSE(ciphertext.empty());
    EXPECT_EQ(ciphertext.size() % 8, 0u);
    const Bytes plaintext = TripleDesDecrypt(ciphertext, "Tele10charTele10charTele");
    ASSERT_FALSE(plaintext.empty());

    const unsigned char* p = plaintext.data();
    UniquePkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(plaintext.size())));
    ASSERT_TRUE(p7 && PKCS7_type_is_signed(p7.get()));
    STACK_OF(X509)* certs = p7->d.sign->cert;
    ASSERT_EQ(sk_X509_num(certs), 3);
    // In delivery order: SigG, signature and encoding key, each matching the
    // modulus the card shows in record 1 of the key file.
    for (int i = 0; i < 3; ++i) {
        const auto keyFile = vcard::ParseCardPath(vcard::kDeliveryKeyFiles[i]);
        const vcard::CardFile* file = card->files.Find(*keyFile);
        ASSERT_TRUE(file != nullptr && !file->records.empty());
        EXPECT_EQ(ModulusOf(sk_X509_value(certs, i)), file->records[0]) << i;
    }

    // An oversized certificate, as tests of the personalization need one, still
    // carries the card's key.
    vcard::CertRequest big;
    big.fillerBytes = 2100;
    const auto oversized =
        vcard::IssueSlotCertificate(*card, *vcard::SlotOfKeyFile("3f00df024531"), big, *tc);
    ASSERT_TRUE(oversized);
    EXPECT_GT(oversized->size(), 2048u);
    const unsigned char* o = oversized->data();
    UniqueX509 bigCert(d2i_X509(nullptr, &o, static_cast<long>(oversized->size())));
    ASSERT_TRUE(bigCert);
    EXPECT_EQ(ModulusOf(bigCert.get()),
              card->files.Find(*vcard::ParseCardPath("3f00df024531"))->records[0]);

    // Another card's certificate cannot open it.
    auto other = vcard::BuildFreshCard(*profile);
    ASSERT_TRUE(other && vcard::IssueCardCertificates(*profile, *other, *tc));
    EXPECT_TRUE(OpenWithCardKey(p7m, *other).empty());
}

} // namespace
