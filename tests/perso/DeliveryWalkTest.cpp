// The personalization's walks and cipher on the demo trust center's P7M, as velkora-trustcenter
// makes it for a delivered card; the card's key transport is OpenSSL's, in the card's place.

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

// What the card does with its key 4571: the RSA key transport of the CMS envelope.
Bytes OpenWithCardKey(const std::string& p7m, const vcard::CardState& card) {
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
    const auto* p = reinterpret_cast<const unsigned char*>(p7m.data());
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

// A delivered card and velkora-trustcenter's P7M for it, under a ten-character tele-password;
// the delivery is the P7M's content, opened with the card's key.
class DeliveryWalkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<velktest::TempDir>();
        const auto profile = vcard::FindProfile("tcos30-blank");
        ASSERT_TRUE(profile);
        s_card = vcard::BuildFreshCard(*profile);
        auto tc = vcard::TrustCenter::Create();
        ASSERT_TRUE(s_card && tc);
        ASSERT_TRUE(vcard::IssueCardCertificates(*profile, *s_card, *tc));
        ASSERT_TRUE(vcard::SaveImage(s_dir->File("card.img"), *s_card));
        ASSERT_TRUE(tc->Save(s_dir->File("velkora-demo-tc.pem")));
        ASSERT_EQ(RunTrustCenter(), 0);
        s_delivery = OpenWithCardKey(ReadFileBytes(s_dir->File("card.p7m")), *s_card);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static int RunTrustCenter() {
        const std::string command = std::string(VELK_TRUSTCENTER_BINARY) + " deliver --image " +
                                    s_dir->File("card.img") + " --out " + s_dir->File("card.p7m") +
                                    " --tele-password Tele10char";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The modulus the card shows in record 1 of a key file.
    static Bytes CardModulus(std::string_view keyFile) {
        const vcard::CardFile* file = s_card->files.Find(*vcard::ParseCardPath(keyFile));
        return file != nullptr && !file->records.empty() ? file->records[0] : Bytes{};
    }

    static inline std::unique_ptr<velktest::TempDir> s_dir;
    static inline std::optional<vcard::CardState> s_card;
    static inline Bytes s_delivery;
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

TEST_F(DeliveryWalkTest, TheTrustCentersP7mGivesTheCertificatesOfTheCardsKeysInOrder) {
    const std::string p7m = ReadFileBytes(s_dir->File("card.p7m"));
    EXPECT_EQ(RunTrustCenter(), 1) << "an existing file is never replaced";
    EXPECT_EQ(ReadFileBytes(s_dir->File("card.p7m")), p7m);

    const auto ciphertext = LocateDeliveryCiphertext(s_delivery);
    ASSERT_FALSE(ciphertext.empty());
    EXPECT_EQ(ciphertext.size() % 8, 0u);
    EXPECT_EQ(ciphertext.data() + ciphertext.size(), s_delivery.data() + s_delivery.size());
    std::array<uint8_t, kTelePasswordKeySize> key{};
    ASSERT_TRUE(TelePasswordKey("Tele10char", key));
    velk::SecureBuffer plaintext(DeliveryPlaintextSize(ciphertext.size()));
    ASSERT_TRUE(DecryptDelivery(ciphertext, key, plaintext));
    EXPECT_EQ(plaintext.Size() % 16, 0u);

    // SigG, signature and encoding key, each certificate matching its key file's modulus and no
    // other.
    ASSERT_EQ(CountP7Certificates(plaintext.Bytes()), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const Bytes cert = ToBytes(GetP7Certificate(plaintext.Bytes(), i));
        const Bytes modulus = CardModulus(vcard::kDeliveryKeyFiles[i]);
        EXPECT_TRUE(CertMatchesCardKey(cert, modulus)) << i;
        EXPECT_FALSE(CertMatchesCardKey(cert, CardModulus(vcard::kDeliveryKeyFiles[(i + 1) % 3])));
        EXPECT_FALSE(CertMatchesCardKey(cert, Bytes(modulus.begin(), modulus.end() - 8))) << i;
    }
    EXPECT_TRUE(GetP7Certificate(plaintext.Bytes(), 3).empty());
}

TEST_F(DeliveryWalkTest, TruncatedGarbageAndForeignInputsGiveNothing) {
    const Bytes certificate = *vcard::CardAuthenticationCertificate(*s_card);
    const Bytes plaintext = vcard::BuildCertsOnlySignedData(std::vector<Bytes>{certificate});
    // Every prefix: the ciphertext element must be whole, and no walk leaves the bytes it has.
    for (std::size_t n = 0; n < s_delivery.size(); ++n) {
        EXPECT_TRUE(LocateDeliveryCiphertext({s_delivery.data(), n}).empty()) << n;
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
    EXPECT_EQ(CountP7Certificates(certificate), 0u);
    const Bytes bogus = {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x30, 0x00};
    EXPECT_TRUE(LocateDeliveryCiphertext(bogus).empty());
    EXPECT_EQ(CountP7Certificates(bogus), 0u);
}
