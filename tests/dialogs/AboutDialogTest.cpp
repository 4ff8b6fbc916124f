// The About dialog and its hyperlinks as real widgets under the offscreen platform: versions
// of the modules as built and as absent, the provider line with and without the card types
// registered, and the links opened by mouse, keyboard and assistive tools through the
// desktop's URL handlers.
#include "app/catalogue/Msg.h"
#include "desktop/StaticLink.h"
#include "dialogs/about/AboutDlg.h"
#include "dialogs/about/AboutResource.h"
#include "dialogs/about/VersionText.h"
#include "dialogs/common/DialogBuilder.h"
#include "platform/qt/UiLog.h"
#include "platform/scarddb/SCardDb.h"
#include "tests/registry/TempHives.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>

#include <string>
#include <vector>

namespace {

// Stands in for the desktop's handlers of web and mail addresses.
class CUrlRecorder : public QObject {
    Q_OBJECT
public:
    CUrlRecorder() {
        QDesktopServices::setUrlHandler("https", this, "Open");
        QDesktopServices::setUrlHandler("mailto", this, "Open");
    }
    ~CUrlRecorder() override {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("mailto");
    }
    std::vector<QString> opened;

public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString(QUrl::FullyEncoded)); }
};

class AboutDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(m_empty.data()), nullptr);
        unsetenv("LD_LIBRARY_PATH");
        m_log = std::string(m_empty.c_str()) + "/ui.log";
        setenv("VELKORA_MSGBOX_LOG", m_log.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VELKORA_MODULE_PATH");
        unsetenv("VELKORA_MSGBOX_LOG");
        std::filesystem::remove_all(m_empty.c_str());
    }

    TempHives m_hives;
    CUrlRecorder m_urls;
    std::string m_empty = (std::filesystem::temp_directory_path() / "velk-about-XXXXXX").string();
    std::string m_log;
};

TEST_F(AboutDialogTest, VersionsAndProviderOfAnInstalledSystem) {
    setenv("VELKORA_MODULE_PATH", VELK_MD_MODULE_DIR, 1);
    ASSERT_EQ(velk::InstallCardTypes(), SCARD_S_SUCCESS);
    CAboutDlg dialog;
    dialog.OnInitDialog();
    const QString modules = QString::fromStdString(FormatVersion(VELK_MD_RESOURCE_VERSION));
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_MINIDRIVER), modules);
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_CSPDLL), modules);
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_PKCS11), modules);
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_CSPTEXT),
              " CSP : Velkora Base Smart Card Crypto Provider");
    const QString version = GetDlgItemText(dialog, IDC_ABOUT_VERSION);
    EXPECT_TRUE(version.startsWith("Version ")) << version.toStdString();
    EXPECT_TRUE(version.contains(" (CR:")) << version.toStdString();
    // In the program's language: 21 replaces the 404 set before it.
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_PRODUCT), QString::fromUtf8(CMsg::Get(20)));
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_WEBLABEL), QString::fromUtf8(CMsg::Get(21)));
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_BACK), QString::fromUtf8(CMsg::Get(406)));
    EXPECT_FALSE(DlgItem<QLabel>(dialog, IDC_ABOUT_BANNER)->pixmap().isNull());
}

TEST_F(AboutDialogTest, NothingInstalled) {
    setenv("VELKORA_MODULE_PATH", m_empty.c_str(), 1);
    CAboutDlg dialog;
    dialog.OnInitDialog();
    for (const int id : {IDC_ABOUT_MINIDRIVER, IDC_ABOUT_CSPDLL, IDC_ABOUT_PKCS11}) {
        EXPECT_EQ(GetDlgItemText(dialog, id), "not found");
    }
    EXPECT_EQ(GetDlgItemText(dialog, IDC_ABOUT_CSPTEXT),
              " CSP : Unknown Cryptographic Service Provider");
}

TEST_F(AboutDialogTest, LinksOpenByMouseKeyboardAndAssistiveTools) {
    setenv("VELKORA_MODULE_PATH", m_empty.c_str(), 1);
    CAboutDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CStaticLink* web = dialog.WebLink();
    CStaticLink* mail = dialog.SupportLink();
    EXPECT_EQ(web->Colour(), CStaticLink::kUnvisitedColour);
    EXPECT_TRUE(web->font().underline());

    QTest::mouseClick(web, Qt::LeftButton);
    ASSERT_EQ(m_urls.opened.size(), 1u);
    EXPECT_EQ(m_urls.opened[0], "https://www.velkora.example");
    EXPECT_EQ(web->Colour(), CStaticLink::kVisitedColour);

    // Keyboard: Tab reaches the support link, Space opens a mail with the subject.
    mail->setFocus();
    ASSERT_TRUE(mail->hasFocus());
    QTest::keyClick(mail, Qt::Key_Space);
    ASSERT_EQ(m_urls.opened.size(), 2u);
    EXPECT_EQ(m_urls.opened[1], "mailto:support@velkora.example?subject=Supportanfrage%20Velkora%"
                                "20certificate%20manager");

    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(mail);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->role(), QAccessible::Link);
    EXPECT_EQ(link->text(QAccessible::Name), "support@velkora.example");
    ASSERT_NE(link->actionInterface(), nullptr);
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(m_urls.opened.size(), 3u);
    dialog.accept();
}

TEST_F(AboutDialogTest, FailedAndEmptyTargetsAndTheSharedCursor) {
    QWidget parent;
    CStaticLink broken(QString(), &parent);
    broken.setText("no-such-file-program-or-protocol");
    CStaticLink empty(QString(), &parent);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

    broken.OpenLink();
    EXPECT_EQ(broken.Colour(), CStaticLink::kUnvisitedColour);
    empty.OpenLink();
    EXPECT_EQ(empty.Colour(), CStaticLink::kUnvisitedColour);
    EXPECT_TRUE(m_urls.opened.empty());
    EXPECT_EQ(ReadFileBytes(m_log), "beep\tno-such-file-program-or-protocol\n");

    // One hand cursor for the whole process.
    const QCursor* hand = CStaticLink::LinkCursor();
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(hand->shape(), Qt::PointingHandCursor);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&broken, &enter);
    QApplication::sendEvent(&empty, &enter);
    EXPECT_EQ(broken.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(CStaticLink::LinkCursor(), hand);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "AboutDialogTest.moc"
