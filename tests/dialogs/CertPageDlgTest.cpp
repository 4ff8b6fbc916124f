// The certificates dialog as a real widget under the offscreen platform: over the in-process
// PC/SC library with the project's virtual card, the minidriver stand-in's provider and the
// real monitor poll; with list entries made here for the button states and row markers; and
// opened by the main window's tray command.

#include "dialogs/certs/CertPageDlg.h"
#include "app/catalogue/Msg.h"
#include "app/shell/VelkMDCertDlg.h"
#include "card/SCard.h"
#include "dialogs/certs/CertPageIds.h"
#include "dialogs/certs/KeepPainting.h"
#include "dialogs/certs/PersonalizeSeam.h"
#include "dialogs/common/DialogBuilder.h"
#include "monitor/CertCollection.h"
#include "monitor/ContainerName.h"
#include "monitor/CryptOwners.h"
#include "monitor/events/MonitorState.h"
#include "pcscsim/SimControl.h"
#include "res/Resource.h"
#include "tests/dialogs/PromptAnswers.h"
#include "tests/dialogs/TestCertificate.h"
#include "tests/events/EventsWorld.h"
#include "tests/minidriver/MdTestEnv.h"
#include "tests/monitor/MonitorEnv.h"
#include "tests/registry/TempHives.h"
#include "tests/support/RecordLines.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>
#include <thread>

// Stands in for the desktop's certificate viewer.
class CFileViewer : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { m_opened.push_back(url.toLocalFile().toStdString()); }

public:
    std::vector<std::string> m_opened;
};

// A StatusNotifier watcher with a host registered, as KDE Plasma or GNOME's AppIndicator
// extension runs it.
class CStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
public:
    bool HostRegistered() const { return true; }
};

namespace {

using montest::ContainerName;

QTreeWidget* List(const CCertPageDlg& dialog) {
    return DlgItem<QTreeWidget>(dialog, IDC_CERT_LIST);
}

std::vector<std::string> Names(const CCertPageDlg& dialog) {
    std::vector<std::string> names;
    for (int i = 0; i < List(dialog)->topLevelItemCount(); ++i) {
        names.push_back(List(dialog)->topLevelItem(i)->text(0).toStdString());
    }
    return names;
}

// Show, Change PIN, Unblock PIN enabled; Personalize shown.
std::string Buttons(const CCertPageDlg& dialog) {
    std::string state;
    for (const int id : {IDC_CERT_SHOW, IDC_CERT_CHANGEPIN, IDC_CERT_UNBLOCKPIN}) {
        state += DlgItem(dialog, id)->isEnabled() ? '1' : '0';
    }
    state += DlgItem(dialog, IDC_CERT_PERSONALIZE)->isVisibleTo(&dialog) ? 'P' : '-';
    return state;
}

// The one row of `name`; null when there is none or more than one.
QTreeWidgetItem* Row(const CCertPageDlg& dialog, const std::string& name) {
    const auto found = List(dialog)->findItems(QString::fromStdString(name), Qt::MatchExactly);
    return found.size() == 1 ? found.front() : nullptr;
}

void Select(CCertPageDlg& dialog, const std::string& name) {
    ASSERT_NE(Row(dialog, name), nullptr) << name;
    List(dialog)->clearSelection();
    Row(dialog, name)->setSelected(true);
}

void AddEntry(const std::vector<uint8_t>& der, const std::string& container) {
    const monitor::CertOwner cert(
        der.empty() ? nullptr
                    : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                   static_cast<DWORD>(der.size())));
    const std::u16string name(container.begin(), container.end());
    g_CertCollection.Append(std::make_shared<const CCertCollection>(cert.Get(), name, "STORE"));
}

class CertPageDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CMsg::SetLanguage(0);
        ::setenv("VELKORA_MSGBOX_LOG", (m_dir.path() + "/boxes.log").toUtf8().constData(), 1);
        QDesktopServices::setUrlHandler("file", &m_viewer, "open");
        g_CertCollection.Free();
        pcscsim::ResetAll();
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        SetPersonalizeRunner({});
        g_CertCollection.Free();
        pcscsim::ResetAll();
        ::unsetenv("VELKORA_MSGBOX_LOG");
    }

    QTemporaryDir m_dir;
    CFileViewer m_viewer;
};

TEST_F(CertPageDlgTest, RowsFollowTheCardWhileOpenAndShowOpensItsCertificate) {
    evtest::EventsWorld world;
    pcscsim::AddReader(evtest::kReaderA);
    // One poll of the monitor, on a thread of its own as the monitor makes it.
    const auto poll = [&] { std::thread([&] { world.Poll(); }).join(); };
    poll();
    CCertPageDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    EXPECT_EQ(List(dialog)->topLevelItemCount(), 0);
    EXPECT_EQ(Buttons(dialog), "000-");

    ASSERT_TRUE(world.Insert(evtest::kReaderA));
    poll();
    const std::size_t registered = g_CertCollection.Size();
    ASSERT_GT(registered, 0u);
    QTRY_COMPARE(static_cast<std::size_t>(List(dialog)->topLevelItemCount()), registered);
    std::vector<std::string> names = Names(dialog);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

    // Show writes the certificate of the selected row and hands it to the desktop's viewer.
    ::setenv("XDG_DOCUMENTS_DIR", m_dir.path().toUtf8().constData(), 1);
    List(dialog)->topLevelItem(0)->setSelected(true);
    const CertRow* selected = dialog.SelectedEntry();
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(Buttons(dialog).substr(0, 1), "1");
    QTest::mouseClick(DlgItem<QPushButton>(dialog, IDC_CERT_SHOW), Qt::LeftButton);
    ASSERT_EQ(m_viewer.m_opened.size(), 1u);
    std::ifstream file(m_viewer.m_opened.front(), std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(file)), {});
    const PCCERT_CONTEXT cert = selected->entry->GetCertContext();
    EXPECT_EQ(written,
              std::vector<uint8_t>(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded));

    // A double click on a row does the same.
    const QTreeWidgetItem* row = List(dialog)->topLevelItem(0);
    const QPoint at = List(dialog)->visualItemRect(row).center();
    QTest::mouseClick(List(dialog)->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(List(dialog)->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(m_viewer.m_opened.size(), 2u);

    // The card goes: its rows go with it, and nothing stays selected.
    ASSERT_TRUE(pcscsim::RemoveCard(evtest::kReaderA));
    poll();
    QTRY_COMPARE(List(dialog)->topLevelItemCount(), 0);
    EXPECT_EQ(Buttons(dialog), "000-");
    ::unsetenv("XDG_DOCUMENTS_DIR");
}

TEST_F(CertPageDlgTest, ButtonsFollowTheSelectedRowAndRowsTellTheirValidity) {
    const montest::TestCa unused; // OpenSSL's providers warmed up outside the assertions
    g_CertCollection.Create();
    AddEntry(dlgtest::MakeCertificate("Anna Expired", -400, -10,
                                      KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION),
             ContainerName('0', '2', '7', '1', "aaaa"));
    AddEntry(dlgtest::MakeCertificate("Carl Authority", -10, 400),
             ContainerName('1', '2', '7', '1', "cccc"));
    AddEntry(dlgtest::MakeCertificate("Bert Personal", -10, 5),
             ContainerName('0', '2', '2', '1', "bbbb"));
    // Bytes that do not decode as a certificate.
    AddEntry({0x30, 0x03, 0x02, 0x01}, ContainerName('0', '2', '7', '2', "dddd"));

    CCertPageDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    EXPECT_EQ(Names(dialog),
              (std::vector<std::string>{"Anna Expired", "Bert Personal", "Carl Authority"}));

    Select(dialog, "Anna Expired");
    EXPECT_EQ(Buttons(dialog), "111-");
    Select(dialog, "Bert Personal");
    EXPECT_EQ(Buttons(dialog), "111P");
    // An authority's row keeps the PIN buttons off even with container type 7.
    Select(dialog, "Carl Authority");
    EXPECT_EQ(Buttons(dialog), "100-");
    List(dialog)->clearSelection();
    EXPECT_EQ(Buttons(dialog), "000-");

    const auto tip = [&](const char* name) { return Row(dialog, name)->toolTip(2).toStdString(); };
    EXPECT_EQ(tip("Anna Expired"), "Issuer: Anna Expired\nexpired on " + dlgtest::DateIn(-10) +
                                       "\nKey usage: digitalSignature, nonRepudiation");
    EXPECT_NE(tip("Bert Personal").find("expires on " + dlgtest::DateIn(5)), std::string::npos);
    EXPECT_NE(tip("Carl Authority").find("valid until " + dlgtest::DateIn(400)), std::string::npos);
    const QString described =
        Row(dialog, "Carl Authority")->data(0, Qt::AccessibleDescriptionRole).toString();
    EXPECT_TRUE(described.startsWith("Authority certificate")) << described.toStdString();
}

TEST_F(CertPageDlgTest, ALanguageSwitchRelabelsTheDialogAtItsNextOpening) {
    g_CertCollection.Create();
    const auto labels = [](const CCertPageDlg& dialog) {
        return (dialog.windowTitle() + "|" + List(dialog)->headerItem()->text(1) + "|" +
                GetDlgItemText(dialog, IDC_CERT_SHOW) + "|" + GetDlgItemText(dialog, IDC_CERT_BACK))
            .toStdString();
    };
    auto english = std::make_unique<CCertPageDlg>();
    english->OnInitDialog();
    EXPECT_EQ(labels(*english), "Smartcard Certificates|Issuer|Show|Back");
    CMsg::SetLanguage(1);
    EXPECT_EQ(labels(*english), "Smartcard Certificates|Issuer|Show|Back");
    english.reset();
    CCertPageDlg german;
    german.OnInitDialog();
    EXPECT_EQ(labels(german), "Smartcard-Zertifikate|Aussteller|Anzeigen|Zurück");
}

TEST_F(CertPageDlgTest, ChangePinGoesThroughTheProviderAndAPulledCardEndsIt) {
    evtest::EventsWorld world;
    pcscsim::AddReader(evtest::kReaderA);
    world.Poll();
    ASSERT_TRUE(world.Insert(evtest::kReaderA));
    world.Poll();
    CCertPageDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    // The row whose commands act on the card PIN (selector 1).
    QTreeWidgetItem* cardPinRow = nullptr;
    for (int i = 0; i < List(dialog)->topLevelItemCount() && cardPinRow == nullptr; ++i) {
        List(dialog)->clearSelection();
        List(dialog)->topLevelItem(i)->setSelected(true);
        const CertRow* row = dialog.SelectedEntry();
        if (row->containerType == 7 &&
            monitor::TailChar(row->entry->GetContainerName(), 7) == '1') {
            cardPinRow = List(dialog)->topLevelItem(i);
        }
    }
    ASSERT_NE(cardPinRow, nullptr);

    const mdtest::TempDir pinDir;
    mdtest::ScriptedPinEntry pinentry(pinDir);
    // The fresh card's PIN1 is its NULL-PIN: only the new PIN is asked, twice.
    pinentry.Queue({"2468", "2468"});
    QSignalSpy ended(&dialog, &CCertPageDlg::PinOperationEnded);
    QTest::mouseClick(DlgItem<QPushButton>(dialog, IDC_CERT_CHANGEPIN), Qt::LeftButton);
    ASSERT_EQ(ended.count(), 1);
    EXPECT_TRUE(ended.front().front().toBool());
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_EQ(pinentry.Unanswered(), 0u);
    SCard card(evtest::kReaderA);
    uint8_t tries = 0;
    EXPECT_EQ(card.Verify("3f002f02", 0x00, "2468", tries), 0);

    // Cancelled in the PIN entry: the card's PIN stays.
    pinentry.Queue({"CANCEL"});
    QTest::mouseClick(DlgItem<QPushButton>(dialog, IDC_CERT_CHANGEPIN), Qt::LeftButton);
    ASSERT_EQ(ended.count(), 2);
    EXPECT_EQ(SCard(evtest::kReaderA).Verify("3f002f02", 0x00, "2468", tries), 0);

    // The card is pulled while its PIN is being changed: the operation ends, the dialog is
    // usable again and its list follows the removal at the next poll.
    pinentry.Queue({"2468", "1357", "1357"});
    pcscsim::PullCardDuringTransmit(evtest::kReaderA, 2);
    QTest::mouseClick(DlgItem<QPushButton>(dialog, IDC_CERT_CHANGEPIN), Qt::LeftButton);
    ASSERT_EQ(ended.count(), 3);
    EXPECT_TRUE(dialog.isEnabled());
    world.Poll();
    QTRY_COMPARE(List(dialog)->topLevelItemCount(), 0);
    EXPECT_EQ(Buttons(dialog), "000-");
}

TEST(KeepPainting, TheEventLoopRunsWhileTheOperationWaitsWithTheWindowDisabled) {
    QWidget window;
    window.show();
    std::promise<void> released;
    std::future<void> release = released.get_future();
    bool disabledMeanwhile = false;
    // Only the user-interface thread's event loop lets the operation end.
    QTimer::singleShot(0, &window, [&] {
        disabledMeanwhile = !window.isEnabled();
        released.set_value();
    });
    EXPECT_TRUE(RunKeepingUiAlive(window, [&] {
        release.wait();
        return true;
    }));
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(window.isEnabled());
}

// The main window's commands, on hives of their own.
class ShowCertificatesCommandTest : public CertPageDlgTest {
protected:
    TempHives m_hives;
};

TEST_F(ShowCertificatesCommandTest, QuitClosesTheDialogAndARestartEndsTheProgram) {
    {
        CVelkMDCertDlg window;
        ASSERT_TRUE(window.Create());
        QSignalSpy closed(&window, &CVelkMDCertDlg::Closed);
        CCertPageDlg* opened = nullptr;
        dlgtest::WhenModalOpens("CCertPageDlg", [&](QWidget& dialog) {
            opened = static_cast<CCertPageDlg*>(&dialog);
            // A second command while the dialog is open does nothing.
            window.OnCommand(ID_APP_SHOWCERTS);
            EXPECT_EQ(CCertPageDlg::OpenDialog(), opened);
            window.OnCommand(ID_APP_EXIT);
        });
        window.OnCommand(ID_APP_SHOWCERTS);
        EXPECT_NE(opened, nullptr);
        EXPECT_EQ(CCertPageDlg::OpenDialog(), nullptr);
        EXPECT_EQ(closed.count(), 1);
    }

    // A personalization that launched a restarted instance: the dialog closes by itself and the
    // program makes way.
    std::string personalized;
    SetPersonalizeRunner([&](const std::string& reader) {
        personalized = reader;
        return true;
    });
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    // An entry rebuilt from the store: its source is "STORE", its container path names the
    // reader that the personalization needs.
    g_CertCollection.Create();
    AddEntry(dlgtest::MakeCertificate("Bert Personal", -10, 400),
             montest::ContainerPath("Sim Reader 0", ContainerName('0', '2', '2', '1', "bbbb")));
    QSignalSpy closed(&window, &CVelkMDCertDlg::Closed);
    dlgtest::WhenModalOpens("CCertPageDlg", [&](QWidget& widget) {
        auto& dialog = static_cast<CCertPageDlg&>(widget);
        // Whatever goes wrong here, the modal loop must end.
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
        Select(dialog, "Bert Personal");
        QTest::mouseClick(DlgItem<QPushButton>(dialog, IDC_CERT_PERSONALIZE), Qt::LeftButton);
    });
    window.OnCommand(ID_APP_SHOWCERTS);
    EXPECT_EQ(personalized, "Sim Reader 0");
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(g_CertCollection.HasEntries());
}

TEST_F(ShowCertificatesCommandTest, ASingleActivationOnAStatusNotifierTrayShowsTheCertificates) {
    if (!qEnvironmentVariableIsSet("VELK_OWN_SESSION_BUS")) {
        GTEST_SKIP() << "registers a tray watcher: needs a session bus of its own";
    }
    CVelkMDCertDlg window;
    ASSERT_TRUE(window.Create());
    const std::string log = (m_dir.path() + "/boxes.log").toStdString();
    const auto commands = [&] { return velktest::RecordLines(log, "command\t"); };
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (CCertPageDlg* dialog = CCertPageDlg::OpenDialog()) {
            dialog->reject();
        }
    });
    closer.start(10);

    // An XEmbed tray reports a double click itself; its single click does nothing.
    emit window.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QApplication::processEvents();
    EXPECT_TRUE(commands().empty());

    CStatusNotifierWatcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
    ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
                                   QDBusConnection::ExportAllProperties));
    emit window.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    QTRY_COMPARE(commands(), std::vector<std::string>{"command\t32783"});
    bus.unregisterObject("/StatusNotifierWatcher");
    bus.unregisterService("org.kde.StatusNotifierWatcher");
}

} // namespace

#include "CertPageDlgTest.moc"
