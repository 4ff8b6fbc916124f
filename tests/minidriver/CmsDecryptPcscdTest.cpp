// CryptDecryptMessage through the real stack: a delivered T-COS 3.0 card in
// a private pcscd, its authentication certificate registered in "MY" by the
// propagation, and messages made with OpenSSL for that certificate. The card
// deciphers the content key after the PIN entry program's answer.

#include "card/SCard.h"
#include "monitor/CCert.h"
#include "platform/crypto/CryptMsg.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/support/VirtualPcscd.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kContent = "certs-only delivery, longer than one cipher block";
const Bytes kNullPin(6, 0x00);

SCARD_READERSTATE LiveState(const std::string& reader) {
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
        SCardGetStatusChange(context, 0, &state, 1);
        SCardReleaseContext(context);
    }
    return state;
}

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr ToX509(const Bytes& der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

// A certificate of a software key that no store here knows.
X509Ptr StrangerCertificate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024});
    X509Ptr cert(X509_new());
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Stranger"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key);
    X509_sign(cert.get(), key, EVP_sha256());
    EVP_PKEY_free(key);
    return cert;
}

// CMS enveloped data of kContent for the recipients, in their order.
Bytes Envelope(const std::vector<X509*>& recipients, const EVP_CIPHER* cipher) {
    STACK_OF(X509)* stack = sk_X509_new_null();
    for (X509* r : recipients) {
        sk_X509_push(stack, r);
    }
    BIO* in = BIO_new_mem_buf(kContent.data(), static_cast<int>(kContent.size()));
    CMS_ContentInfo* cms = CMS_encrypt(stack, in, cipher, CMS_BINARY);
    Bytes der;
    if (cms != nullptr) {
        unsigned char* out = nullptr;
        const int length = i2d_CMS_ContentInfo(cms, &out);
        if (length > 0) {
            der.assign(out, out + length);
        }
        OPENSSL_free(out);
    }
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    sk_X509_free(stack);
    return der;
}

// One call of CryptDecryptMessage against "MY"; `buffer` null asks for the size.
struct Outcome {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD size = 0;
    Bytes recipient; // the exchange certificate handed out
};

Outcome Decrypt(const Bytes& message, Bytes* buffer, DWORD size = 0) {
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, PKCS_7_ASN_ENCODING | X509_ASN_ENCODING, 1, &my,
                                    0};
    Outcome outcome;
    outcome.size = buffer != nullptr ? static_cast<DWORD>(buffer->size()) : size;
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

std::string Opened(const Bytes& message) {
    const Outcome sized = Decrypt(message, nullptr);
    if (!sized.ok) {
        return "size call failed: " + std::to_string(sized.error);
    }
    Bytes buffer(sized.size);
    const Outcome data = Decrypt(message, &buffer);
    if (!data.ok) {
        return "data call failed: " + std::to_string(data.error);
    }
    return std::string(buffer.begin(), buffer.begin() + data.size);
}

class CmsDecryptPcscdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pcscd.Ok());
        m_reader = m_pcscd.ReaderName(0);
        ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30-blank", m_env.Path("card.img")));
        const SCARD_READERSTATE state = LiveState(m_reader);
        CCert().AddReaderCertificates(&state);
        // The delivered card carries one key certificate: the authentication one.
        const auto my = montest::MonitorEnv::Store("MY");
        ASSERT_EQ(my.size(), 1u);
        m_authentication = ToX509(my[0].der);
        ASSERT_NE(m_authentication, nullptr);
        m_authenticationDer = my[0].der;
    }

    void BreakNullPin() {
        SCard card(m_reader);
        uint8_t tries = 0;
        const std::string pin = "123456";
        ASSERT_EQ(card.ChangeReferenceData("3f002f02", 0x00, kNullPin,
                                           Bytes(pin.begin(), pin.end()), tries),
                  scard::kPinOk);
    }

    montest::MonitorEnv m_env{VELK_CSP_MODULE};
    velktest::VirtualPcscd m_pcscd{1};
    mdtest::TempDir m_pinDir;
    mdtest::ScriptedPinEntry m_pinentry{m_pinDir};
    std::string m_reader;
    X509Ptr m_authentication;
    Bytes m_authenticationDer;
};

TEST_F(CmsDecryptPcscdTest, MessagesToTheAuthenticationCertificateOpenWithOnePromptEach) {
    BreakNullPin();
    const Bytes aes = Envelope({m_authentication.get()}, EVP_aes_256_cbc());
    ASSERT_FALSE(aes.empty());

    // The size call needs no PIN: it reports an upper bound.
    const Outcome sized = Decrypt(aes, nullptr);
    ASSERT_TRUE(sized.ok) << sized.error;
    EXPECT_GE(sized.size, kContent.size());
    EXPECT_EQ(sized.recipient, m_authenticationDer);
    EXPECT_EQ(m_pinentry.Starts(), 0);

    m_pinentry.Queue({"123456"});
    Bytes buffer(sized.size);
    const Outcome data = Decrypt(aes, &buffer);
    ASSERT_TRUE(data.ok) << std::hex << data.error;
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + data.size), kContent);
    EXPECT_EQ(data.recipient, m_authenticationDer);
    EXPECT_EQ(m_pinentry.Starts(), 1);

    // Triple-DES, and the card's recipient second behind a stranger's.
    const X509Ptr stranger = StrangerCertificate();
    const Bytes des = Envelope({stranger.get(), m_authentication.get()}, EVP_des_ede3_cbc());
    m_pinentry.Queue({"123456"});
    EXPECT_EQ(Opened(des), kContent);
    EXPECT_EQ(m_pinentry.Starts(), 2);
}

TEST_F(CmsDecryptPcscdTest, FailuresSayWhyAndAskNoMoreThanOnce) {
    const Bytes message = Envelope({m_authentication.get()}, EVP_aes_256_cbc());
    ASSERT_FALSE(message.empty());
    Bytes buffer(message.size());

    // The NULL-PIN must be changed before the key may be used.
    m_pinentry.Queue({"000000"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED));
    BreakNullPin();
    m_pinentry.Queue({"CANCEL"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    m_pinentry.Queue({"654321"});
    EXPECT_EQ(Decrypt(message, &buffer).error, static_cast<DWORD>(SCARD_W_WRONG_CHV));
    EXPECT_EQ(m_pinentry.Starts(), 3);

    // Nothing below reaches the card.
    const X509Ptr stranger = StrangerCertificate();
    const Outcome other = Decrypt(Envelope({stranger.get()}, EVP_aes_128_cbc()), nullptr);
    EXPECT_EQ(other.error, static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT));
    EXPECT_TRUE(other.recipient.empty());

    const Bytes garbage(300, 0xA5);
    const DWORD garbageError = Decrypt(garbage, nullptr).error;
    EXPECT_TRUE(garbageError == CRYPT_E_ASN1_BADTAG || garbageError == CRYPT_E_ASN1_CORRUPT)
        << std::hex << garbageError;
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{1}, message.size() / 2, message.size() - 1}) {
        const Bytes truncated(message.begin(), message.begin() + static_cast<long>(cut));
        const DWORD error = Decrypt(truncated, &buffer).error;
        EXPECT_TRUE(error == CRYPT_E_ASN1_BADTAG || error == CRYPT_E_ASN1_CORRUPT)
            << cut << ": " << std::hex << error;
    }

    const Outcome sized = Decrypt(message, nullptr);
    ASSERT_TRUE(sized.ok);
    Bytes small(sized.size - 1);
    const Outcome tooSmall = Decrypt(message, &small);
    EXPECT_EQ(tooSmall.error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(tooSmall.size, sized.size);
    EXPECT_EQ(m_pinentry.Starts(), 3);
}

} // namespace
