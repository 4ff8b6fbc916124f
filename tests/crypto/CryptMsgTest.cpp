// CryptDecryptMessage with a software key behind the tests' provider module:
// the message layouts other tools write and the failures that never reach a
// key. The card path itself is covered through pcscd in the minidriver tests.

#include "platform/crypto/CryptMsg.h"
#include "platform/crypto/ProviderInstall.h"
#include "tests/certstore/TestCerts.h"
#include "tests/crypto/CmsMessages.h"
#include "tests/registry/TempHives.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace velktest;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kProvider = "Velkora Base Smart Card Crypto Provider";
constexpr const char16_t* kContainer =
    u"\\\\.\\Fake Reader 0\\c0000071-0efd-11dc-8314-0800200c9a66";
const std::string kContent = "three blocks of AES: 16 + 16 + a few more";

struct Message {
    const EVP_CIPHER* cipher = EVP_aes_256_cbc();
    unsigned flags = CMS_BINARY;
    bool streamed = false; // BER with indefinite lengths
};

Bytes Envelope(const TestCert& to, const Message& how) {
    return velktest::Envelope({to.der}, kContent, how.cipher, how.flags, how.streamed);
}

class CryptMsgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(velk::InstallSoftwareProvider(), ERROR_SUCCESS);
        ASSERT_EQ(velk::RegisterProvider(kProvider, VELK_FAKE_PROVIDER), ERROR_SUCCESS);
        m_cert = MakeCert(Cert("Card Holder").Key(NewRsaKey(2048)));
        const std::string certPath = m_hives.Dir() + "/card.der";
        std::ofstream(certPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_cert.der.data()),
                   static_cast<std::streamsize>(m_cert.der.size()));
        const std::string keyPath = m_hives.Dir() + "/card.pem";
        FILE* file = std::fopen(keyPath.c_str(), "w");
        ASSERT_NE(file, nullptr);
        PEM_write_PrivateKey(file, m_cert.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(file);
        setenv("VELK_FAKE_CERT", certPath.c_str(), 1);
        setenv("VELK_FAKE_KEY", keyPath.c_str(), 1);
        const Context context = CreateContext(m_cert.der);
        ASSERT_TRUE(
            SetKeyLink(context.get(), kContainer, u"Velkora Base Smart Card Crypto Provider"));
        const Store my = OpenUserStore("MY");
        ASSERT_TRUE(CertAddCertificateContextToStore(my.get(), context.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    void TearDown() override {
        unsetenv("VELK_FAKE_CERT");
        unsetenv("VELK_FAKE_KEY");
    }

    // Size call, then data call; the error of the first that fails.
    DWORD Open(const Bytes& message, std::string& content) const {
        const Store my = OpenUserStore("MY");
        HCERTSTORE stores[] = {my.get()};
        CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, PKCS_7_ASN_ENCODING | X509_ASN_ENCODING, 1,
                                        stores, 0};
        DWORD size = 0;
        if (!CryptDecryptMessage(&para, message.data(), static_cast<DWORD>(message.size()), nullptr,
                                 &size, nullptr)) {
            return GetLastError();
        }
        Bytes buffer(size);
        if (!CryptDecryptMessage(&para, message.data(), static_cast<DWORD>(message.size()),
                                 buffer.data(), &size, nullptr)) {
            return GetLastError();
        }
        content.assign(buffer.begin(), buffer.begin() + size);
        return 0;
    }

    TempHives m_hives;
    TestCert m_cert;
};

TEST_F(CryptMsgTest, OpensTheLayoutsOtherToolsWrite) {
    const Message layouts[] = {
        {EVP_aes_128_cbc(), CMS_BINARY | CMS_USE_KEYID, false}, // recipient by key identifier
        {EVP_aes_192_cbc(), CMS_BINARY, true},                  // BER, indefinite lengths
        {EVP_des_ede3_cbc(), CMS_BINARY, false},
    };
    for (const Message& how : layouts) {
        const Bytes message = Envelope(m_cert, how);
        ASSERT_GT(message.size(), 2u);
        EXPECT_EQ(message[1] == 0x80, how.streamed); // indefinite length, as streamed
        std::string content;
        EXPECT_EQ(Open(message, content), 0u) << EVP_CIPHER_get0_name(how.cipher);
        EXPECT_EQ(content, kContent);
    }
}

TEST_F(CryptMsgTest, RefusesWhatItCannotOpen) {
    std::string content;
    // A wrong last block: the padding gives it away, nothing comes out.
    const Bytes message = Envelope(m_cert, {});
    Bytes bent = message;
    const uint8_t padding = static_cast<uint8_t>(16 - kContent.size() % 16);
    bent[bent.size() - 17] ^= padding; // the last plaintext byte becomes 0
    EXPECT_EQ(Open(bent, content), static_cast<DWORD>(NTE_BAD_DATA));
    EXPECT_TRUE(content.empty());

    EXPECT_EQ(Open(Envelope(m_cert, {EVP_camellia_128_cbc()}), content),
              static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));

    // Another content type than enveloped data: an empty id-data.
    const Bytes plain = {0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                         0x0D, 0x01, 0x07, 0x01, 0xA0, 0x02, 0x04, 0x00};
    EXPECT_EQ(Open(plain, content), static_cast<DWORD>(CRYPT_E_UNEXPECTED_MSG_TYPE));

    // A certificate in "MY" without a link to its key is no recipient.
    const TestCert unlinked = MakeCert(Cert("Unlinked").Key(NewRsaKey(1024)).Serial(2));
    ASSERT_TRUE(AddToUserStore("MY", unlinked, CERT_STORE_ADD_NEW));
    EXPECT_EQ(Open(Envelope(unlinked, {}), content), static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT));

    // Garbage and truncated messages.
    for (const Bytes& bad : {Bytes(300, 0xA5), Bytes{}, Bytes(message.begin(), message.begin() + 1),
                             Bytes(message.begin(), message.begin() + message.size() / 2),
                             Bytes(message.begin(), message.end() - 1)}) {
        const DWORD error = Open(bad, content);
        EXPECT_TRUE(error == CRYPT_E_ASN1_BADTAG || error == CRYPT_E_ASN1_CORRUPT)
            << bad.size() << ": " << std::hex << error;
    }

    // An encoding type without PKCS_7_ASN_ENCODING is the caller's mistake.
    DWORD size = 0;
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, X509_ASN_ENCODING, 0, nullptr, 0};
    EXPECT_FALSE(CryptDecryptMessage(&para, message.data(), static_cast<DWORD>(message.size()),
                                     nullptr, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

} // namespace
