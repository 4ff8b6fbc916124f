// CryptDecryptMessage through the real stack: a delivered T-COS 3.0 card in
// a private pcscd, its authentication certificate registered in "MY" by the
// propagation, and messages made with OpenSSL for that certificate. The card
// deciphers the content key after the PIN entry program's answer.

#include "card/SCard.h"
#include "platform/crypto/CryptMsg.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/certstore/TestCerts.h"
#include "tests/crypto/CmsMessages.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/DeliveredCard.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kContent = "certs-only delivery, longer than one cipher block";

// One call of CryptDecryptMessage against "MY"; `buffer` null asks for the size.
struct Outcome {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD size = 0;
    Bytes recipient; // the exchange certificate handed out
};

Outcome Decrypt(const Bytes& message, Bytes* buffer) {
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, PKCS_7_ASN_ENCODING | X509_ASN_ENCODING, 1, &my,
                                    0};
    Outcome outcome;
    outcome.size = buffer != nullptr ? static_cast<DWORD>(buffer->size()) : 0;
    PCCERT_CONTEXT exchange = nullptr;
    outcome.ok =
        CryptDecryptMessage(&para, message.data(), static_cast<DWORD>(message.size()),
                            buffer != nullptr ? buffer->data() : nullptr, &outcome.size, &exchange);
    outcome.error = outcome.ok ? 0 : GetLastError();
    if (exchange != nullptr) {
        outcome.recipient.assign(exchange->pbCertEncoded,
                                 exchange->pbCertEncoded + exchange->cbCertEncoded);
        CertFreeCertificateContext(exchange);
    }
    CertCloseStore(my, 0);
    return outcome;
}

class CmsDecryptPcscdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pcscd.Ok());
        m_reader = m_pcscd.ReaderName(0);
        ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30-blank", m_env.Path("card.img")));
        montest::RegisterReaderCertificates(m_reader);
        // The delivered card carries one key certificate: the authentication one.
        const auto my = montest::MonitorEnv::Store("MY");
        ASSERT_EQ(my.size(), 1u);
        m_authentication = my[0].der;
    }

    montest::MonitorEnv m_env{VELK_CSP_MODULE};
    velktest::VirtualPcscd m_pcscd{1};
    mdtest::TempDir m_pinDir;
    mdtest::ScriptedPinEntry m_pinentry{m_pinDir};
    std::string m_reader;
    Bytes m_authentication;
};

// (Garbage, truncated messages and a message for no certificate in "MY" are refused in
// CryptMsgTest, before any key is asked.)
TEST_F(CmsDecryptPcscdTest, AMessageOpensWithOnePromptAndFailuresSayWhy) {
    // Triple-DES, with the card's recipient second.
    const Bytes stranger =
        velktest::MakeCert(velktest::Cert("Stranger").Key(velktest::NewRsaKey(1024))).der;
    const Bytes message =
        velktest::Envelope({stranger, m_authentication}, kContent, EVP_des_ede3_cbc());
    ASSERT_FALSE(message.empty());
    Bytes buffer(message.size());

    // The NULL-PIN must be changed before the key may be used.
    m_pinentry.Queue({"000000"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));
    ASSERT_TRUE(montest::BreakCardPin1NullPin(m_reader, "123456"));

    // The size call needs no PIN: it reports an upper bound; a buffer short of it is refused.
    const Outcome sized = Decrypt(message, nullptr);
    ASSERT_TRUE(sized.ok) << sized.error;
    EXPECT_GE(sized.size, kContent.size());
    EXPECT_EQ(sized.recipient, m_authentication);
    Bytes small(sized.size - 1);
    const Outcome tooSmall = Decrypt(message, &small);
    EXPECT_EQ(tooSmall.error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(tooSmall.size, sized.size);
    EXPECT_EQ(m_pinentry.Starts(), 1);

    m_pinentry.Queue({"123456"});
    const Outcome data = Decrypt(message, &buffer);
    ASSERT_TRUE(data.ok) << std::hex << data.error;
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + data.size), kContent);
    EXPECT_EQ(data.recipient, m_authentication);

    m_pinentry.Queue({"CANCEL"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    m_pinentry.Queue({"654321"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_WRONG_CHV));
    // Two more wrong tries block the PIN: then even the right one is refused.
    m_pinentry.Queue({"654321", "654321", "123456"});
    Decrypt(message, &buffer);
    Decrypt(message, &buffer);
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_CHV_BLOCKED));

    EXPECT_EQ(m_pinentry.Starts(), 7);
}

} // namespace
