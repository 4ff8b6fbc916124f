#include "dialogs/perso/DeliveryWalk.h"
#include "dialogs/perso/CardKeyMatch.h"
#include "dialogs/perso/DeliveryCipher.h"
#include "dialogs/perso/P7Certificates.h"
#include "vcard/Delivery.h"
#include "vcard/TrustCenter.h"

#include <openssl/core_names.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

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

TEST_F(DeliveryWalkTest, AWrongTelePasswordGivesNoSequence) {
    const Bytes delivery = Delivery(CertsOnlyP7({s_first->der}), "richtig");
    const auto ciphertext = LocateDeliveryCiphertext(delivery);
    std::array<uint8_t, kTelePasswordKeySize> key{};
    ASSERT_TRUE(TelePasswordKey("falsch", key));
    velk::SecureBuffer decrypted(DeliveryPlaintextSize(ciphertext.size()));
    ASSERT_TRUE(DecryptDelivery(ciphertext, key, decrypted));
    EXPECT_EQ(CountP7Certificates(decrypted.Bytes()), 0u);
}
