// The provider loaded by name over the in-process PC/SC stand-in with the
// virtual card: its containers, their names, and the certificates read from
// the card's certificate files.

#include "pcscsim/SimControl.h"
#include "platform/crypto/WinCrypt.h"
#include "tests/minidriver/MdTestEnv.h"
#include "vcard/VirtualCard.h"

#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kReaderA = "Sim Reader A 00 00";
const std::string kReaderB = "Sim Reader B 01 00";

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Cert = std::unique_ptr<X509, X509Free>;

Cert Parse(const Bytes& der) {
    const unsigned char* p = der.data();
    return Cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

std::string Field(X509* cert, int nid) {
    char text[256] = {};
    return X509_NAME_get_text_by_NID(X509_get_subject_name(cert), nid, text, sizeof text) > 0 ? text
                                                                                              : "";
}

bool HasQcStatements(X509* cert) {
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> oid(
        OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1), &ASN1_OBJECT_free);
    return X509_get_ext_by_OBJ(cert, oid.get(), -1) >= 0;
}

// "3f00" + DF + key file, from the name's positions 9-12 and 14-17.
std::string KeyFileOf(const std::string& name) {
    return "3f00" + name.substr(9, 4) + name.substr(14, 4);
}

class CspCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_provider.Result(), 0);
        pcscsim::ResetAll();
    }
    void TearDown() override {
        EXPECT_EQ(pcscsim::OpenContexts(), 0u);
        EXPECT_EQ(pcscsim::OpenCardHandles(), 0u);
        EXPECT_EQ(pcscsim::OutstandingAllocations(), 0u);
        pcscsim::ResetAll();
    }

    // A reader attached with a card of `profile` in it.
    static std::shared_ptr<vcard::VirtualCard> Insert(const std::string& reader,
                                                      const std::string& profile) {
        pcscsim::AddReader(reader);
        std::shared_ptr<vcard::VirtualCard> card =
            vcard::OpenCard(mdtest::QuickProfile(profile), "");
        EXPECT_TRUE(card);
        EXPECT_TRUE(pcscsim::InsertCard(reader, card));
        return card;
    }

    // The containers listed for `reader`; `end` is the error that ended the listing.
    static std::vector<std::string> Names(const std::string& reader, unsigned long* end = nullptr) {
        unsigned long last = 0;
        auto names = mdtest::EnumerateContainers(reader, last);
        if (end != nullptr) {
            *end = last;
        }
        return names;
    }

    mdtest::TempDir m_dir;
    mdtest::RegisteredProvider m_provider{m_dir};
};

TEST_F(CspCardTest, ContainersOfATcos30CardCarryItsCertificates) {
    const auto card = Insert(kReaderA, "tcos30");
    unsigned long end = 0;
    const auto names = Names(kReaderA, &end);
    EXPECT_EQ(end, static_cast<unsigned long>(ERROR_NO_MORE_ITEMS));
    ASSERT_EQ(names.size(), 6u); // signature, authentication, encryption, card, two CAs

    int users = 0;
    int authorities = 0;
    std::vector<Bytes> caCerts;
    Bytes signatureCert;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_EQ(name.size(), 36u);
        EXPECT_EQ(name.substr(23), "-0800200c9a66");
        EXPECT_EQ(mdtest::ReaderIndexFromContainer(name, 1), 0);
        EXPECT_EQ(mdtest::ReaderNameIndexFromContainer(name, 1), 0u);
        const Bytes der = mdtest::ContainerCertificate(kReaderA, name);
        ASSERT_FALSE(der.empty());
        const Cert cert = Parse(der);
        ASSERT_TRUE(cert) << "OpenSSL cannot read the certificate";
        if (name[4] == '1') {
            ++authorities;
            EXPECT_EQ(name[6], '0');
            EXPECT_EQ(X509_check_ca(cert.get()), 1);
            caCerts.push_back(der);
            continue;
        }
        ++users;
        EXPECT_EQ(X509_check_ca(cert.get()), 0);
        // The certificate belongs to the card's own key of that key file.
        const auto modulus = card->ReadRecord(KeyFileOf(name), 1);
        ASSERT_TRUE(modulus.has_value());
        EXPECT_EQ(mdtest::CertificateModulus(der), *modulus);
        if (name.substr(0, 4) == "c500") {
            EXPECT_EQ(name[6], '2') << "the card certificate leads to the personalization";
            EXPECT_EQ(Field(cert.get(), NID_commonName), "Card Authentication");
        } else {
            EXPECT_EQ(name[6], '7');
            EXPECT_EQ(Field(cert.get(), NID_commonName), "Erika Mustermann");
            EXPECT_EQ(Field(cert.get(), NID_pkcs9_emailAddress), "erika.mustermann@example.org");
        }
        const bool signature = KeyFileOf(name) == "3f00df014531";
        EXPECT_EQ(HasQcStatements(cert.get()), signature);
        EXPECT_EQ(name[7], signature ? '3' : '1'); // SigG PIN1, else Card PIN1
        if (signature) {
            signatureCert = der;
        }
    }
    EXPECT_EQ(users, 4);
    EXPECT_EQ(authorities, 2);

    // The CA certificates on the card make the chain: root, issuing CA, card certificates.
    ASSERT_EQ(caCerts.size(), 2u);
    const Cert issuing = Parse(caCerts[0]);
    const Cert root = Parse(caCerts[1]);
    const Cert signature = Parse(signatureCert);
    ASSERT_TRUE(issuing && root && signature);
    EXPECT_EQ(X509_check_issued(root.get(), root.get()), X509_V_OK);
    EXPECT_EQ(X509_check_issued(root.get(), issuing.get()), X509_V_OK);
    EXPECT_EQ(X509_verify(issuing.get(), X509_get0_pubkey(root.get())), 1);
    EXPECT_EQ(X509_verify(signature.get(), X509_get0_pubkey(issuing.get())), 1);
}

TEST_F(CspCardTest, BlankCardShowsOnlyItsCardCertificateOthersNone) {
    const std::string kReaderC = "Sim Reader C 02 00";
    Insert(kReaderA, "tcos30-blank");
    const auto names = Names(kReaderA);
    std::vector<std::string> users;
    std::copy_if(names.begin(), names.end(), std::back_inserter(users),
                 [](const std::string& name) { return name[4] == '0'; });
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0][6], '2');
    EXPECT_EQ(names.size(), 3u); // and the two CA certificates
    const Cert cert = Parse(mdtest::ContainerCertificate(kReaderA, users[0]));
    ASSERT_TRUE(cert);
    EXPECT_EQ(Field(cert.get(), NID_commonName), "Card Authentication");
    EXPECT_FALSE(Field(cert.get(), NID_serialNumber).empty());

    // Cards without certificate files offer no container.
    Insert(kReaderB, "tcos20");
    Insert(kReaderC, "cardos4");
    for (const std::string& reader : {kReaderB, kReaderC}) {
        unsigned long end = 0;
        EXPECT_TRUE(Names(reader, &end).empty());
        EXPECT_EQ(end, static_cast<unsigned long>(ERROR_NO_MORE_ITEMS));
    }
}

// A card that hands out READ BINARY answers in pieces smaller than asked for,
// with 90 00 as if it had sent the whole block.
class ShortBlockCard : public pcscsim::ICardEndpoint {
public:
    explicit ShortBlockCard(std::shared_ptr<vcard::VirtualCard> card) : m_card(std::move(card)) {}
    std::vector<uint8_t> Atr() const override { return m_card->Atr(); }
    void Reset() override { m_card->Reset(); }
    bool SupportsT1() const override { return m_card->SupportsT1(); }
    std::vector<uint8_t> Transmit(std::span<const uint8_t> command) override {
        Bytes answer = m_card->Transmit(command);
        constexpr std::size_t kPiece = 100;
        if (command.size() >= 2 && command[1] == 0xB0 && answer.size() > kPiece + 2) {
            answer.erase(answer.begin() + kPiece, answer.end() - 2);
        }
        return answer;
    }

private:
    std::shared_ptr<vcard::VirtualCard> m_card;
};

TEST_F(CspCardTest, CertificatesReadInShortBlocksComeWhole) {
    const auto card = Insert(kReaderA, "tcos30");
    const auto names = Names(kReaderA);
    ASSERT_FALSE(names.empty());
    std::vector<Bytes> whole;
    for (const std::string& name : names) {
        whole.push_back(mdtest::ContainerCertificate(kReaderA, name));
    }
    pcscsim::RemoveCard(kReaderA);
    ASSERT_TRUE(pcscsim::InsertCard(kReaderA, std::make_shared<ShortBlockCard>(card)));
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const Bytes der = mdtest::ContainerCertificate(kReaderA, names[i]);
        EXPECT_GT(der.size(), 128u);
        EXPECT_EQ(der, whole[i]);
    }
}

TEST_F(CspCardTest, BusyBroadcastsShareOneConnectionAndNeverWaitForTheBus) {
    mdtest::RecordingBus bus;
    ASSERT_TRUE(bus.Ok()) << "dbus-daemon is needed for this test";
    Insert(kReaderA, "tcos30");
    const auto names = Names(kReaderA);
    ASSERT_GE(names.size(), 3u);
    ASSERT_FALSE(mdtest::ContainerCertificate(kReaderA, names[0]).empty());
    ASSERT_EQ(bus.Received(2).size(), 2u);

    // A bus that reads nothing holds up no certificate read.
    bus.Pause();
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_FALSE(mdtest::ContainerCertificate(kReaderA, names[i]).empty());
    }
    bus.Resume();
    using Requests = std::vector<std::pair<uint32_t, int64_t>>;
    const Requests expected = {{0x2002, 0}, {0x2003, 0}, {0x2002, 0},
                               {0x2003, 0}, {0x2002, 0}, {0x2003, 0}};
    EXPECT_EQ(bus.Received(expected.size()), expected);
    EXPECT_EQ(bus.Senders().size(), 1u);
}

TEST_F(CspCardTest, ContextsRefuseWhatTheCardCannotDoAndListingsFollowTheCard) {
    const auto card = Insert(kReaderA, "tcos30");
    pcscsim::AddReader(kReaderB);
    const auto names = Names(kReaderA);
    ASSERT_FALSE(names.empty());
    const std::string path = mdtest::ContainerPath(kReaderA, names[0]);
    HCRYPTPROV prov = 0;

    // An unknown name, a name of the right length that no slot has, an empty reader.
    for (const char* bad : {"nothing", "ffff0473-df02-4571-0002-0800200c9a66"}) {
        EXPECT_EQ(mdtest::Acquire(mdtest::ContainerPath(kReaderA, bad), prov), NTE_BAD_KEYSET);
    }
    EXPECT_EQ(mdtest::Acquire(mdtest::ContainerPath(kReaderB, ""), prov),
              static_cast<DWORD>(SCARD_E_NO_SMARTCARD));
    // Card containers are neither made nor deleted through the provider.
    EXPECT_EQ(mdtest::Acquire(path, prov, CRYPT_DELETEKEYSET), NTE_PERM);

    ASSERT_EQ(mdtest::Acquire(path, prov), 0u);
    char container[64] = {};
    DWORD length = sizeof container;
    ASSERT_TRUE(
        CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(container), &length, 0));
    EXPECT_EQ(std::string(container), names[0]);
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    // Too small a buffer tells the size.
    BYTE small[8] = {};
    length = sizeof small;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, small, &length, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_GT(length, 500u);
    // Decryption asks for the key's PIN first; a cancel ends it.
    const mdtest::ScriptedPinEntry pinentry(m_dir);
    pinentry.Queue({"CANCEL"});
    BYTE block[256] = {};
    length = sizeof block;
    EXPECT_FALSE(CryptDecrypt(key, 0, TRUE, 0, block, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER));
    CryptDestroyKey(key);
    // Only PIN parameters are taken.
    EXPECT_FALSE(CryptSetProvParam(prov, PP_NAME, reinterpret_cast<const BYTE*>("x"), 0));
    CryptReleaseContext(prov, 0);

    // Each listing of a context looks at the card again.
    ASSERT_EQ(mdtest::Acquire(mdtest::ContainerPath(kReaderA, ""), prov), 0u);
    DWORD longest = 0;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &longest, CRYPT_FIRST));
    EXPECT_EQ(longest, 37u);
    unsigned long end = 0;
    const auto before = mdtest::ListContainers(prov, end);
    EXPECT_EQ(before.size(), 6u);
    // An erased certificate file (all 00 or all FF) takes its container away.
    ASSERT_TRUE(card->WriteFile("3f00df02c500", Bytes(2048, 0x00)));
    EXPECT_EQ(mdtest::ListContainers(prov, end).size(), 5u);
    ASSERT_TRUE(card->WriteFile("3f00df02c100", Bytes(2048, 0xFF)));
    ASSERT_TRUE(card->WriteFile("3f00df01c000", Bytes(4096, 0x00)));
    EXPECT_EQ(mdtest::ListContainers(prov, end).size(), 3u);
    CryptReleaseContext(prov, 0);
    for (const auto& name : before) {
        const std::string file = name.substr(0, 4);
        if (file == "c500" || file == "c100" || (file == "c000" && name.substr(9, 4) == "df01")) {
            EXPECT_EQ(mdtest::Acquire(mdtest::ContainerPath(kReaderA, name), prov), NTE_BAD_KEYSET);
        }
    }

    // The card gone: the next listing says so.
    pcscsim::RemoveCard(kReaderA);
    end = 0;
    EXPECT_TRUE(Names(kReaderA, &end).empty());
    EXPECT_NE(end, static_cast<unsigned long>(ERROR_NO_MORE_ITEMS));
}

} // namespace
