#include "dialogs/about/AboutDlg.h"

#include "app/catalogue/Msg.h"
#include "desktop/StaticLink.h"
#include "dialogs/about/AboutBanner.h"
#include "dialogs/about/AboutResource.h"
#include "dialogs/about/VersionText.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/common/ParentOwned.h"
#include "monitor/CardUtils.h"

#include <QLabel>
#include <QPushButton>

namespace {

constexpr unsigned IDS_ABOUT_TITLE = 400;
constexpr unsigned IDS_ABOUT_LINKS = 402;
constexpr unsigned IDS_ABOUT_WEB = 404;
constexpr unsigned IDS_ABOUT_SUPPORT = 405;
constexpr unsigned IDS_ABOUT_BACK = 406;
constexpr unsigned IDS_PRODUCT = 20;
constexpr unsigned IDS_ON_THE_INTERNET = 21;
// The ATR table entry of the maker's card whose provider the dialog names.
constexpr int kMakerCardAtrIndex = 7;

QString Text(unsigned id) {
    return QString::fromUtf8(CMsg::Get(id));
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {}

void CAboutDlg::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CAboutDlg::OnInitDialog() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    BuildDialog(*this, AboutDialogResource(), [](const DlgControlResource&, QWidget* parent) {
        return ParentOwned<CStaticLink>(QString(), parent);
    });
    m_webLink = qobject_cast<CStaticLink*>(DlgItem(*this, IDC_ABOUT_WEBLINK));
    m_supportLink = qobject_cast<CStaticLink*>(DlgItem(*this, IDC_ABOUT_MAILLINK));
    connect(DlgItem<QPushButton>(*this, IDC_ABOUT_BACK), &QPushButton::clicked, this,
            &CAboutDlg::accept);
    UpdateData();

    setWindowTitle(Text(IDS_ABOUT_TITLE));
    SetDlgItemText(*this, IDC_ABOUT_LINKS, Text(IDS_ABOUT_LINKS));
    SetDlgItemText(*this, IDC_ABOUT_WEBLABEL, Text(IDS_ABOUT_WEB));
    SetDlgItemText(*this, IDC_ABOUT_SUPPORTLABEL, Text(IDS_ABOUT_SUPPORT));
    SetDlgItemText(*this, IDC_ABOUT_BACK, Text(IDS_ABOUT_BACK));

    m_version = QString::fromStdString(GetProgramVersionText());
    m_minidriver = QString::fromStdString(GetModuleVersionText("velkoramd.dll"));
    m_cspDll = QString::fromStdString(GetModuleVersionText("velkcsp.dll"));
    m_pkcs11 = QString::fromStdString(GetModuleVersionText("velkora-pkcs11.dll"));
    m_cspText = QStringLiteral(" CSP : ") +
                QString::fromStdString(ProviderNameByAtrIndex(kMakerCardAtrIndex));
    UpdateData();

    m_webLink->setText(QString::fromLatin1(kWebAddress).remove(QStringLiteral("https://")));
    m_webLink->SetTarget(QString::fromLatin1(kWebAddress));
    m_supportLink->setText(QString::fromLatin1(kSupportAddress));
    m_supportLink->SetTarget(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress) +
                             QStringLiteral("?subject=") + QString::fromLatin1(kSupportSubject));

    if (auto* banner = DlgItem<QLabel>(*this, IDC_ABOUT_BANNER)) {
        banner->setPixmap(LoadBannerBitmap(banner->size()));
        banner->setAccessibleName(Text(IDS_PRODUCT));
    }
    SetDlgItemText(*this, IDC_ABOUT_PRODUCT, Text(IDS_PRODUCT));
    SetDlgItemText(*this, IDC_ABOUT_WEBLABEL, Text(IDS_ON_THE_INTERNET));
    // Each link is announced with the text of the label before it.
    m_webLink->setAccessibleDescription(Text(IDS_ON_THE_INTERNET));
    m_supportLink->setAccessibleDescription(Text(IDS_ABOUT_SUPPORT));
}

void CAboutDlg::UpdateData() {
    SetDlgItemText(*this, IDC_ABOUT_VERSION, m_version);
    SetDlgItemText(*this, IDC_ABOUT_MINIDRIVER, m_minidriver);
    SetDlgItemText(*this, IDC_ABOUT_PKCS11, m_pkcs11);
    SetDlgItemText(*this, IDC_ABOUT_CSPDLL, m_cspDll);
    SetDlgItemText(*this, IDC_ABOUT_CSPTEXT, m_cspText);
}
