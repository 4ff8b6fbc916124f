// The module as the ecosystem's own clients use it: GnuTLS's p11tool,
// PyKCS11 and NSS's modutil and certutil, against the virtual card behind a
// private pcscd. Their environment carries the private pcscd's socket.

#include "tests/pkcs11/P11TestCard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace p11test {
namespace {

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class EcosystemClients : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pcscd.Ok());
        ASSERT_TRUE(MakeCardImage(m_dir.File("card.img"), true));
        ASSERT_TRUE(m_pcscd.InsertCard(0, "tcos30", m_dir.File("card.img")));
    }

    TempDir m_dir;
    velktest::VirtualPcscd m_pcscd{1};
};

TEST_F(EcosystemClients, P11toolAndPyKcs11ListSignAndDecrypt) {
    const std::string p11tool = "p11tool --provider '" + ModulePath() + "' ";
    std::string out;
    ASSERT_EQ(RunShell(p11tool + "--list-all-certs", out), 0) << out;
    EXPECT_EQ(Count(out, "type=cert"), 4u) << out;
    for (const char* label : {"SigG", "Signature", "Encryption", "Authentication"}) {
        EXPECT_NE(out.find(std::string("Label: ") + label + "\n"), std::string::npos) << label;
    }
    ASSERT_EQ(RunShell("GNUTLS_PIN=" + std::string(kCardPin) + " " + p11tool +
                           "--login --test-sign 'pkcs11:object=Signature;type=private'",
                       out),
              0)
        << out;
    EXPECT_NE(out.find("Verifying against public key in the token... ok"), std::string::npos)
        << out;

    ASSERT_EQ(RunShell(std::string("/usr/bin/python3 ") + VELK_PYKCS11_CLIENT + " '" +
                           ModulePath() + "' '" + m_dir.Path() + "' " + kCardPin,
                       out),
              0)
        << out;
    // The signature verifies with OpenSSL against the card's certificate.
    EXPECT_TRUE(Verifies(ReadAll(m_dir.File("cert.der")), ReadAll(m_dir.File("data")),
                         ReadAll(m_dir.File("signature"))));

    // Without the card the certificates are gone from the list.
    ASSERT_TRUE(m_pcscd.RemoveCard(0));
    RunShell(p11tool + "--list-all-certs", out);
    EXPECT_EQ(Count(out, "type=cert"), 0u) << out;
}

TEST_F(EcosystemClients, NssRegistrationIsIdempotentAndReversible) {
    // A home with a Firefox profile and no ~/.pki/nssdb yet.
    const std::string home = m_dir.File("home");
    const std::string profile = home + "/.mozilla/firefox/abcd.default-release";
    std::string out;
    ASSERT_EQ(RunShell("mkdir -p '" + profile + "' && certutil -N -d 'sql:" + profile +
                           "' --empty-password",
                       out),
              0)
        << out;
    const std::string tool =
        "HOME='" + home + "' " VELK_NSS_REGISTER " --module '" + ModulePath() + "'";
    ASSERT_EQ(RunShell(tool, out), 0) << out;
    EXPECT_EQ(Count(out, ": added"), 2u) << out;
    ASSERT_EQ(RunShell(tool, out), 0) << out;
    EXPECT_EQ(Count(out, ": unchanged"), 2u) << out;

    const std::string pinFile = m_dir.File("pin");
    std::ofstream(pinFile) << kCardPin << "\n";
    for (const std::string& db : {home + "/.pki/nssdb", profile}) {
        SCOPED_TRACE(db);
        ASSERT_EQ(RunShell("modutil -dbdir 'sql:" + db + "' -list", out), 0) << out;
        EXPECT_NE(out.find("Velkora smart card"), std::string::npos) << out;
        ASSERT_EQ(RunShell("certutil -L -h all -d 'sql:" + db + "' -f '" + pinFile + "'", out), 0)
            << out;
        EXPECT_EQ(Count(out, ":Signature "), 1u) << out;
        EXPECT_EQ(Count(out, ":SigG ") + Count(out, ":Signature ") + Count(out, ":Encryption ") +
                      Count(out, ":Authentication "),
                  4u)
            << out;
    }

    ASSERT_EQ(RunShell(tool + " --remove", out), 0) << out;
    EXPECT_EQ(Count(out, ": removed"), 2u) << out;
    ASSERT_EQ(RunShell("modutil -dbdir 'sql:" + profile + "' -list", out), 0) << out;
    EXPECT_EQ(out.find("Velkora smart card"), std::string::npos) << out;
}

} // namespace
} // namespace p11test
