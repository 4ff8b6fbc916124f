// The certificates dialog of the real program, used the way a screen reader's user uses it:
// velkora-certmgr on the virtual X display with a private pcscd whose vpcd reader holds the
// virtual card; the tray command opens the dialog, and an AT-SPI client selects the card's
// certificate and presses Show. The file written must be the card's certificate as OpenSSL
// reads it, handed to the desktop's handler.
#include "tests/support/ProgramUnderTest.h"
#include "tests/support/VirtualPcscd.h"
#include "vcard/CardImage.h"
#include "vcard/Delivery.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>

namespace {

using namespace velktest;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class CertificatesEndToEnd : public ProgramUnderTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramUnderTest::SetUp());
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under with-services.sh";
        const QString root = m_dir.path();
        m_env.insert("QT_QPA_PLATFORM", "xcb");
        m_env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        m_env.insert("XDG_DOCUMENTS_DIR", root + "/documents");
        ASSERT_TRUE(QDir(root).mkpath("documents"));
        // The desktop's handler for the file: one that notes what it was asked to open.
        ASSERT_TRUE(QDir(root).mkpath("bin"));
        WriteFile("bin/xdg-open",
                  "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + root.toStdString() + "/opened.txt'\n",
                  true);
        m_env.insert("PATH", root + "/bin:" + m_env.value("PATH"));
        // As on a screen reader's desktop, the accessibility registry runs before the program
        // starts: started later by the first client, it may never list the program.
        ASSERT_EQ(Run("/usr/bin/python3",
                      {"-c", "import pyatspi; pyatspi.Registry.getDesktop(0).childCount"}),
                  0);
    }

    void WriteFile(const char* name, std::string_view content, bool executable = false) {
        QFile file(QString::fromStdString(Path(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), static_cast<qint64>(content.size()));
        if (executable) {
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    // The SHA-1 thumbprints of the registrations in "MY" (upper-case hex).
    std::set<std::string> Thumbprints() {
        std::set<std::string> found;
        for (const Registration& r : Registrations()) {
            found.insert(Upper(r.thumbprint));
        }
        return found;
    }
};

TEST_F(CertificatesEndToEnd, TheTrayCommandOpensTheDialogAndShowWritesTheCardCertificate) {
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30", Path("card.img")));

    ASSERT_NO_FATAL_FAILURE(StartProgram());
    std::set<std::string> registered;
    ASSERT_TRUE(WaitUntil([&] { return !(registered = Thumbprints()).empty(); }));

    ASSERT_EQ(Command(32783), 0);
    ASSERT_TRUE(WaitUntil([&] { return Logged("command\t32783"); }));
    // Without a language setting the program speaks German.
    std::string seen;
    ASSERT_EQ(Run("/usr/bin/python3", {VELK_ATSPI_DRIVER, "Smartcard-Zertifikate", "Anzeigen", "0"},
                  &seen, 120000),
              0)
        << seen;
    // Every control has its name and takes the focus; the rows are read out cell by cell.
    EXPECT_EQ(seen.find("unnamed"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("unfocusable"), std::string::npos) << seen;
    std::size_t rows = 0;
    for (std::size_t at = seen.find("row\t"); at != std::string::npos;
         at = seen.find("row\t", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, registered.size()) << seen;

    const QString written = m_dir.path() + "/documents/msign0000.cer";
    ASSERT_TRUE(WaitUntil([&] {
        return ReadAll(m_dir.path() + "/opened.txt").find("msign0000") != std::string::npos;
    }));
    EXPECT_EQ(ReadAll(m_dir.path() + "/opened.txt"), "file://" + written.toStdString() + "\n");
    std::string fingerprint;
    ASSERT_EQ(Run("openssl",
                  {"x509", "-inform", "DER", "-in", written, "-noout", "-fingerprint", "-sha1"},
                  &fingerprint),
              0);
    std::string hex;
    for (char c : fingerprint.substr(fingerprint.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            hex += c;
        }
    }
    EXPECT_EQ(registered.count(Upper(hex)), 1u) << hex;

    // Quit while the dialog is open: it closes first, and the program ends in order.
    ASSERT_EQ(Run(VELKORA_CERTMGR, {"stop"}), 3);
    ASSERT_TRUE(m_program.waitForFinished(kPatienceMs));
    EXPECT_EQ(m_program.exitCode(), 0);
    EXPECT_TRUE(Registrations().empty());
    EXPECT_TRUE(LastLine("msgbox").empty()) << LastLine("msgbox");
}

// A card as the trust center delivers it, made ready by a screen reader's user: the NULL-PINs
// broken, the PIN2s set, the maker's key written, and the P7M's certificates written into the
// files of the matching keys; the program restarts itself and registers them.
TEST_F(CertificatesEndToEnd,
       APersonalizedDeliveredCardHasItsCertificatesRegisteredAfterTheRestart) {
    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok());
    const std::string image = Path("card.img");
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30-blank", image));
    const auto card = vcard::LoadImage(image);
    const auto tc = vcard::TrustCenterFor(image);
    ASSERT_TRUE(card && tc);
    const auto issued = vcard::IssueDeliveryCertificates(*card, *tc);
    ASSERT_TRUE(issued.has_value());
    const auto p7m = vcard::MakeDeliveryP7M(*card, *issued, "Tele1234");
    ASSERT_TRUE(p7m.has_value());
    WriteFile("delivery.p7m", {reinterpret_cast<const char*>(p7m->data()), p7m->size()});
    m_env.insert("VELKORA_OPENFILE_ANSWER", QString::fromStdString(Path("delivery.p7m")));
    // The card's PIN for opening the P7M comes from a PIN entry program.
    WriteFile("bin/pinentry",
              "#!/bin/sh\necho OK\nwhile read -r line; do case \"$line\" in GETPIN) echo "
              "'D 123456'; echo OK;; BYE) echo OK; exit 0;; *) echo OK;; esac; done\n",
              true);
    m_env.insert("VELKORA_PINENTRY", QString::fromStdString(Path("bin/pinentry")));

    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const QString log = m_dir.path() + "/ui.log";
    std::set<std::string> delivered;
    ASSERT_TRUE(WaitUntil([&] { return (delivered = Thumbprints()).size() == 1; }));

    ASSERT_EQ(Command(32783), 0);
    std::string seen;
    ASSERT_EQ(
        Run("/usr/bin/python3",
            {VELK_ATSPI_PERSONALIZE, log, "Karten PIN1=123456,123456", "SigG PIN1=135790,135790",
             "Karten PIN2=123456,87654321,87654321", "SigG PIN2=135790,24682468,24682468",
             "Velkora PublicKey=123456", "Zertifikate=Tele1234"},
            &seen, 240000),
        0)
        << seen << ReadAll(log);

    // The old instance makes way; the restarted one registers the card's four certificates.
    ASSERT_TRUE(m_program.waitForFinished(kPatienceMs));
    EXPECT_EQ(m_program.exitCode(), 0);
    std::set<std::string> registered;
    EXPECT_TRUE(WaitUntil([&] { return (registered = Thumbprints()).size() == 4; }))
        << registered.size();
    EXPECT_TRUE(
        std::includes(registered.begin(), registered.end(), delivered.begin(), delivered.end()));

    // (The card's files afterwards, and the restart's record, are PersoP7MPcscdTest's matter.)
    EXPECT_NE(ReadAll(log).find("Velkora PublicKey erfolgreich geschrieben."), std::string::npos)
        << ReadAll(log);
    Run(VELKORA_CERTMGR, {"stop"});
    EXPECT_TRUE(WaitUntil([&] { return Thumbprints().empty(); }));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
