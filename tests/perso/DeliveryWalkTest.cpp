#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/CardKeyMatch.h"
#include "dialogs/perso/DeliveryCipher.h"
#include "dialogs/perso/P7Certificates.h"
#include "tests/support/TempDir.h"
#include "vcard/CardImage.h"
#include "vcard/CardPath.h"
#include "vcard/CertIssuance.h"
#include "vcard/Delivery.h"
#include "vcard/FreshCard.h"
#include "vcard/Profile.h"
#include "vcard/TrustCenter.h"

#include <openssl/cms.h>
#include <openssl/core_names.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <sys/wait.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::string KeyText(std::string_view password) {
    std::array<uint8_t, kTelePasswordKeySize> key{};
    if (!TelePasswordKey(password, key)) {
        return "<none>";
    }
    return {key.begin(), key.end()};
}

Bytes ToBytes(std::span<const uint8_t> span) {
    return {span.begin(), span.end()};
}

Bytes CertsOnlyP7(const std::vector<Bytes>& certificates) {
    return vcard::BuildCertsOnlySignedData(certificates);
}

Bytes Delivery(const Bytes& plaintext, const std::string& telePassword) {
    return vcard::EncryptDelivery(plaintext, telePassword).value_or(Bytes{});
}

struct TestCert {
    Bytes der;
    Bytes modulus; // big-endian, without a sign byte
};

TestCert WithModulus(const Bytes& der) {
    TestCert cert{der, {}};
    const uint8_t* at = der.data();
    const std::unique_ptr<X509, decltype(&X509_free)> x509(
        d2i_X509(nullptr, &at, static_cast<long>(der.size())), X509_free);
    BIGNUM* n = nullptr;
    if (x509 && EVP_PKEY_get_bn_param(X509_get0_pubkey(x509.get()), OSSL_PKEY_PARAM_RSA_N, &n)) {
        cert.modulus.resize(static_cast<std::size_t>(BN_num_bytes(n)));
        BN_bn2bin(n, cert.modulus.data());
    }
    BN_free(n);
    return cert;
}

// What the card does with its key 4571: the RSA key transport of the CMS envelope.
Bytes OpenWithCardKey(const Bytes& p7m, const vcard::CardState& card) {
    const auto keyFile = vcard::ParseCardPath("3f00df024571");
    const auto cardKey =
        std::find_if(card.keys.begin(), card.keys.end(),
                     [&](const vcard::CardKey& k) { return k.keyFile == keyFile; });
    const auto certDer = vcard::CardAuthenticationCertificate(card);
    if (cardKey == card.keys.end() || !certDer) {
        return {};
    }
    const unsigned char* k = cardKey->privateKeyDer.data();
    const unsigned char* c = certDer->data();
    const unsigned char* p = p7m.data();
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &k, static_cast<long>(cardKey->privateKeyDer.size())),
        EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &c, static_cast<long>(certDer->size())), X509_free);
    const std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
        d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(p7m.size())), CMS_ContentInfo_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    char* data = nullptr;
    if (!key || !cert || !cms ||
        CMS_decrypt(cms.get(), key.get(), cert.get(), nullptr, out.get(), CMS_BINARY) != 1) {
        return {};
    }
    const long size = BIO_get_mem_data(out.get(), &data);
    return Bytes(data, data + size);
}

int RunTrustCenter(const std::string& args) {
    const int status = std::system((std::string(VELK_TRUSTCENTER_BINARY) + " " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Two certificates of 2048-bit RSA keys: those of a fresh trust center's two authorities.
class DeliveryWalkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto tc = vcard::TrustCenter::Create();
        ASSERT_TRUE(tc.has_value());
        s_first = WithModulus(tc->RootCertificate());
        s_second = WithModulus(tc->IssuingCertificate());
    }
    static inline std::optional<TestCert> s_first;
    static inline std::optional<TestCert> s_second;
};

} // namespace

TEST(TelePasswordKeyTest, RepeatsAndCutsTheCharactersToTwentyFour) {
    EXPECT_EQ(KeyText("0123456789"), "012345678901234567890123");
    EXPECT_EQ(KeyText("abcdefghijklmnopqrstuvwxyzABCD"), "abcdefghijklmnopqrstuvwx");
    EXPECT_EQ(KeyText(std::string(24, 'z')), std::string(24, 'z'));
    // A UTF-8 umlaut is one character with its Latin-1 byte; beyond Latin-1 it is '?'.
    EXPECT_EQ(KeyText("\xC3\xA4\xE2\x82\xAC"), std::string("\xE4?\xE4?\xE4?\xE4?\xE4?\xE4?\xE4?"
                                                           "\xE4?\xE4?\xE4?\xE4?\xE4?"));
    EXPECT_EQ(KeyText(""), "<none>");
}

TEST_F(DeliveryWalkTest, AWellFormedDeliveryGivesItsCertificatesInOrder) {
    const Bytes plaintext = CertsOnlyP7({s_first->der, s_second->der});
    const Bytes delivery = Delivery(plaintext, "0123456789");

    const auto ciphertext = LocateDeliveryCiphertext(delivery);
    ASSERT_EQ(ciphertext.size() % 8, 0u);
    ASSERT_EQ(ciphertext.size(), (plaintext.size() / 8 + 1) * 8);
    EXPECT_EQ(ciphertext.data() + ciphertext.size(), delivery.data() + delivery.size());

    std::array<uint8_t, kTelePasswordKeySize> key{};
    ASSERT_TRUE(TelePasswordKey("0123456789", key));
    velk::SecureBuffer decrypted(DeliveryPlaintextSize(ciphertext.size()));
    ASSERT_TRUE(DecryptDelivery(ciphertext, key, decrypted));
    ASSERT_EQ(decrypted.Size() % 16, 0u);
    EXPECT_EQ(Bytes(decrypted.Data(), decrypted.Data() + plaintext.size()), plaintext);

    EXPECT_EQ(CountP7Certificates(decrypted.Bytes()), 2u);
    EXPECT_EQ(ToBytes(GetP7Certificate(decrypted.Bytes(), 0)), s_first->der);
    EXPECT_EQ(ToBytes(GetP7Certificate(decrypted.Bytes(), 1)), s_second->der);
    EXPECT_TRUE(GetP7Certificate(decrypted.Bytes(), 2).empty());

    EXPECT_TRUE(CertMatchesCardKey(s_first->der, s_first->modulus));
    EXPECT_FALSE(CertMatchesCardKey(s_first->der, s_second->modulus));
    EXPECT_FALSE(CertMatchesCardKey(
        s_first->der, Bytes(s_first->modulus.begin(), s_first->modulus.begin() + 200)));
}

TEST_F(DeliveryWalkTest, TruncatedGarbageAndForeignInputsGiveNothing) {
    const Bytes plaintext = CertsOnlyP7({s_first->der});
    const Bytes delivery = Delivery(plaintext, "secret");
    // Every prefix: the ciphertext element must be whole, and no walk leaves the bytes it has.
    for (std::size_t n = 0; n < delivery.size(); ++n) {
        EXPECT_TRUE(LocateDeliveryCiphertext({delivery.data(), n}).empty()) << n;
    }
    for (std::size_t n = 0; n < plaintext.size(); ++n) {
        EXPECT_EQ(CountP7Certificates({plaintext.data(), n}), 0u) << n;
        EXPECT_TRUE(GetP7Certificate({plaintext.data(), n}, 0).empty()) << n;
    }
    // Not a SEQUENCE, the certificates without their encryption where the delivery belongs.
    const Bytes notSequence = {0x04, 0x03, 0x30, 0x01, 0x00};
    EXPECT_FALSE(BeginsWithSequence(notSequence));
    EXPECT_EQ(CountP7Certificates(notSequence), 0u);
    EXPECT_TRUE(LocateDeliveryCiphertext(plaintext).empty());
    EXPECT_EQ(CountP7Certificates(s_first->der), 0u);
    const Bytes bogus = {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x30, 0x00};
    EXPECT_TRUE(LocateDeliveryCiphertext(bogus).empty());
    EXPECT_EQ(CountP7Certificates(bogus), 0u);
}

// velkora-trustcenter's P7M for a delivered card: the envelope opens with the card's key and,
// under the tele-password, carries the certificates of the SigG, signature and encoding keys in
// that order. (A wrong tele-password, another card's P7M and an oversized certificate are
// PersoP7MPcscdTest's bad inputs.)
TEST(TrustCenterDelivery, P7mOpensWithTheCardKeyAndCarriesCertificatesOfTheCardsKeys) {
    const velktest::TempDir dir;
    const auto profile = vcard::FindProfile("tcos30-blank");
    ASSERT_TRUE(profile);
    auto card = vcard::BuildFreshCard(*profile);
    auto tc = vcard::TrustCenter::Create();
    ASSERT_TRUE(card && tc);
    ASSERT_TRUE(vcard::IssueCardCertificates(*profile, *card, *tc));
    ASSERT_TRUE(vcard::SaveImage(dir.File("card.img"), *card));
    ASSERT_TRUE(tc->Save(dir.File("velkora-demo-tc.pem")));

    const std::string args = "deliver --image " + dir.File("card.img") + " --out " +
                             dir.File("card.p7m") + " --tele-password Tele10char";
    ASSERT_EQ(RunTrustCenter(args), 0);
    const std::string file = ReadFileBytes(dir.File("card.p7m"));
    EXPECT_EQ(RunTrustCenter(args), 1) << "an existing file is never replaced";
    EXPECT_EQ(ReadFileBytes(dir.File("card.p7m")), file);

    const Bytes delivery = OpenWithCardKey(Bytes(file.begin(), file.end()), *card);
    const auto ciphertext = LocateDeliveryCiphertext(delivery);
    ASSERT_FALSE(ciphertext.empty());
    std::array<uint8_t, kTelePasswordKeySize> key{};
    ASSERT_TRUE(TelePasswordKey("Tele10char", key));
    velk::SecureBuffer plaintext(DeliveryPlaintextSize(ciphertext.size()));
    ASSERT_TRUE(DecryptDelivery(ciphertext, key, plaintext));
    ASSERT_EQ(CountP7Certificates(plaintext.Bytes()), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const vcard::CardFile* keyFile =
            card->files.Find(*vcard::ParseCardPath(vcard::kDeliveryKeyFiles[i]));
        ASSERT_TRUE(keyFile != nullptr && !keyFile->records.empty());
        EXPECT_EQ(WithModulus(ToBytes(GetP7Certificate(plaintext.Bytes(), i))).modulus,
                  keyFile->records[0])
            << i;
    }
}
