// The desktop side of the utilities under the offscreen platform: the
// shell's "open" reaches the desktop's handler (a handler of the test for
// file URLs), and the list building tells the user through the message-box
// seam.

#include "monitor/qt/MonitorUi.h"
#include "monitor/CertCollection.h"
#include "monitor/CryptOwners.h"
#include "monitor/qt/ShellExecute.h"
#include "pcscsim/SimControl.h"
#include "platform/crypto/ProviderInstall.h"
#include "platform/registry/Registry.h"
#include "tests/monitor/MonitorEnv.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace montest;

// Stands in for the desktop's file viewer.
class FileViewer : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { m_opened.push_back(url.toLocalFile().toStdString()); }

public:
    std::vector<std::string> m_opened;
};

namespace {

class MonitorUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        pcscsim::ResetAll();
        QDesktopServices::setUrlHandler("file", &m_viewer, "open");
        setenv("VELKORA_MSGBOX_LOG", m_env.Path("boxes.log").c_str(), 1);
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        unsetenv("VELKORA_MSGBOX_LOG");
    }

    MonitorEnv m_env;
    FileViewer m_viewer;
};

TEST_F(MonitorUiTest, ShowWritesTheFileAndOpensIt) {
    SetPersonalFolder(m_env.Dir());
    const TestCa ca;
    const Bytes der = ca.Issue({{{"CN", "Shown"}}, {0x42}});
    const monitor::CertOwner cert = ContextOf(der);
    std::ofstream(m_env.Path("msign0000.cer")) << "an old export";

    EXPECT_TRUE(SaveAndOpenCertificate(cert.Get()));
    ASSERT_EQ(m_viewer.m_opened, std::vector<std::string>{m_env.Path("msign0000.cer")});
    std::ifstream in(m_env.Path("msign0000.cer"), std::ios::binary);
    EXPECT_EQ(Reencode(Bytes((std::istreambuf_iterator<char>(in)), {})), der);

    EXPECT_FALSE(SaveAndOpenCertificate(nullptr));
    EXPECT_EQ(m_viewer.m_opened.size(), 1u);
}

TEST_F(MonitorUiTest, ShellOpenResults) {
    std::ofstream(m_env.Path("doc.cer")) << "x";
    EXPECT_GT(
        ShellExecuteA(nullptr, "open", "doc.cer", nullptr, m_env.Dir().c_str(), SW_SHOWNORMAL), 32);
    EXPECT_EQ(m_viewer.m_opened.back(), m_env.Path("doc.cer"));
    EXPECT_EQ(
        ShellExecuteA(nullptr, "open", m_env.Path("none.cer").c_str(), nullptr, ".", SW_SHOWNORMAL),
        2);
    EXPECT_EQ(
        ShellExecuteA(nullptr, "print", m_env.Path("doc.cer").c_str(), nullptr, ".", SW_SHOWNORMAL),
        0);
    EXPECT_EQ(ShellExecuteA(nullptr, "open", nullptr, nullptr, ".", SW_SHOWNORMAL), 0);
    EXPECT_EQ(m_viewer.m_opened.size(), 1u);
}

TEST_F(MonitorUiTest, ListBuildingErrorsAreShown) {
    ASSERT_EQ(velk::SetDefaultProvider(PROV_RSA_FULL, "No Such Provider"), ERROR_SUCCESS);
    BuildCertificateList();
    EXPECT_TRUE(g_CertCollection.Exists());
    const auto lines = ReadLines(m_env.Path("boxes.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("msgbox\t", 0), 0u);
    EXPECT_NE(lines[0].find("\tFEHLER\tCryptAcquireContext failed(8009"), std::string::npos)
        << lines[0];

    // Once the list exists nothing more is asked or shown.
    BuildCertificateList();
    EXPECT_EQ(ReadLines(m_env.Path("boxes.log")).size(), 1u);
}

TEST_F(MonitorUiTest, PumpRunsWaitingEvents) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_TRUE(ran);
}

} // namespace

int main(int argc, char** argv) {
    // Nothing here needs a display, also not when the tests are listed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "MonitorUiTest.moc"
