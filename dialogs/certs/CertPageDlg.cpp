#include "dialogs/certs/CertPageDlg.h"

#include "app/catalogue/Msg.h"
#include "dialogs/certs/CertButtons.h"
#include "dialogs/certs/CertPageIds.h"
#include "dialogs/certs/CertRowImages.h"
#include "dialogs/certs/CertValidity.h"
#include "dialogs/certs/KeepPainting.h"
#include "dialogs/certs/PersonalizeSeam.h"
#include "dialogs/common/DialogBuilder.h"
#include "monitor/CardUtils.h"
#include "monitor/ContainerName.h"
#include "monitor/qt/MonitorUi.h"

#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <ctime>
#include <memory>
#include <string_view>

namespace {

constexpr DlgControlResource kControls[] = {
    {IDC_CERT_GROUP, DlgControlKind::GroupBox, 6, 7, 423, 131, "Certificates", 308},
    {IDC_CERT_LIST, DlgControlKind::ListView, 15, 21, 402, 110, "", 0, kDlgSorted | kDlgBorder},
    {IDC_CERT_SHOW, DlgControlKind::PushButton, 8, 145, 67, 15, "Show", 302, kDlgDisabled},
    {IDC_CERT_CHANGEPIN, DlgControlKind::PushButton, 78, 145, 67, 15, "Change PIN", 303,
     kDlgDisabled},
    {IDC_CERT_CHANGEPIN2, DlgControlKind::PushButton, 149, 145, 67, 15, "Change PIN2", 304,
     kDlgDisabled},
    {IDC_CERT_UNBLOCKPIN, DlgControlKind::PushButton, 78, 162, 67, 15, "Unblock PIN", 305,
     kDlgDisabled},
    {IDC_CERT_UNBLOCKPIN2, DlgControlKind::PushButton, 149, 162, 67, 15, "Unblock PIN2", 306,
     kDlgDisabled},
    {IDC_CERT_TMP, DlgControlKind::PushButton, 8, 162, 67, 15, "Tmp", 0, kDlgHidden},
    {IDC_CERT_PERSONALIZE, DlgControlKind::PushButton, 233, 162, 121, 15, "Personalize", 307,
     kDlgHidden},
    {IDC_CERT_BACK, DlgControlKind::PushButton, 360, 162, 67, 14, "Back", 301, kDlgDefault},
    {IDC_STATIC, DlgControlKind::GroupBox, 6, 134, 423, 45, "", 0},
};

constexpr DlgResource kResource{
    IDD_CERTPAGE, "Smartcard Certificates", 300, "Tahoma", 8, 436, 186, true, kControls};

struct Column {
    unsigned textId;
    int width;
};
constexpr Column kColumns[] = {{309, 175}, {310, 175}, {311, 90}, {312, 150}};

// The rows' item data: their index in m_rows.
constexpr int kRowRole = Qt::UserRole;

// User-interface thread only.
CCertPageDlg* g_openDialog = nullptr;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The reader of an entry. Entries rebuilt from the store carry "STORE" as their source; their
// container path "\\.\reader\container" still names the reader.
std::string ReaderOf(const CCertCollection& entry) {
    const std::string source = entry.GetReaderName();
    const std::string path = entry.GetContainerName();
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    if (source != monitor::kStoreSource || !path.starts_with(kDevicePrefix)) {
        return source;
    }
    const std::size_t end = path.rfind('\\');
    return end > kDevicePrefix.size()
               ? path.substr(kDevicePrefix.size(), end - kDevicePrefix.size())
               : source;
}

} // namespace

CCertPageDlg::CCertPageDlg(QWidget* parent)
    : QDialog(parent), m_handOver([guard = QPointer<CCertPageDlg>(this)] {
          // Called on the thread that changed the list; the refill runs on this dialog's.
          QMetaObject::invokeMethod(
              guard.data(),
              [guard] {
                  if (guard) {
                      guard->OnRefreshRequested();
                  }
              },
              Qt::QueuedConnection);
      }) {
    BuildDialog(*this, kResource);
    m_list = DlgItem<QTreeWidget>(*this, IDC_CERT_LIST);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setIconSize(QSize(16, 16));
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CCertPageDlg::OnSelectionChanged);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { OnShow(); });
    connect(DlgItem<QPushButton>(*this, IDC_CERT_SHOW), &QPushButton::clicked, this,
            &CCertPageDlg::OnShow);
    connect(DlgItem<QPushButton>(*this, IDC_CERT_CHANGEPIN), &QPushButton::clicked, this,
            &CCertPageDlg::OnChangePin);
    connect(DlgItem<QPushButton>(*this, IDC_CERT_UNBLOCKPIN), &QPushButton::clicked, this,
            &CCertPageDlg::OnUnblockPin);
    connect(DlgItem<QPushButton>(*this, IDC_CERT_PERSONALIZE), &QPushButton::clicked, this,
            &CCertPageDlg::OnPersonalize);
    connect(DlgItem<QPushButton>(*this, IDC_CERT_BACK), &QPushButton::clicked, this,
            &QDialog::accept);
}

CCertPageDlg::~CCertPageDlg() {
    m_handOver.Detach();
    if (g_openDialog == this) {
        g_openDialog = nullptr;
    }
}

CCertPageDlg* CCertPageDlg::OpenDialog() {
    return g_openDialog;
}

void CCertPageDlg::OnInitDialog() {
    g_openDialog = this;
    m_handOver.Attach();

    QStringList headers;
    for (const Column& column : kColumns) {
        headers << QString::fromUtf8(CMsg::Get(column.textId));
    }
    m_list->setColumnCount(static_cast<int>(headers.size()));
    m_list->setHeaderLabels(headers);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        m_list->setColumnWidth(i, kColumns[i].width);
    }
    m_list->setAccessibleName(QString::fromUtf8(CMsg::Get(308)));

    if (!g_CertCollection.Exists()) {
        BuildCertificateList();
    }
    FillList();
    SetCatalogueTexts(*this, kResource);
    // The frame of the buttons has no text of its own to be read out.
    static constexpr const char* kButtonsFrame[] = {"Actions", "Aktionen", "Åtgärder"};
    const int language = CMsg::Language();
    if (QWidget* frame = DlgItem(*this, IDC_STATIC)) {
        frame->setAccessibleName(QString::fromUtf8(kButtonsFrame[language == 0   ? 0
                                                                 : language == 2 ? 2
                                                                                 : 1]));
    }
    m_list->setFocus();
}

int CCertPageDlg::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CCertPageDlg::OnRefreshRequested() {
    if (m_handOver.TakeRequest()) {
        FillList();
    }
}

void CCertPageDlg::FillList() {
    if (!g_CertCollection.Exists()) {
        return;
    }
    m_selected = nullptr;
    {
        const QSignalBlocker quiet(m_list);
        m_list->clear();
    }
    UpdateButtons();

    m_rows = g_CertCollection.Rows();
    const int language = CMsg::Language();
    const std::time_t now = std::time(nullptr);
    m_list->setSortingEnabled(false);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const CertRow& row = m_rows[i];
        // A certificate that could not be decoded has nothing to show or open.
        if (row.entry == nullptr || row.entry->GetCertContext() == nullptr) {
            continue;
        }
        const CertValidity validity = ReadValidity(row.entry->GetCertContext(), now);
        const CertRowImage image = RowImageFor(row);
        const QString tip = Text(RowToolTip(row.issuer, validity, language));

        auto item = std::make_unique<QTreeWidgetItem>(
            QStringList{Text(row.subject), Text(row.issuer), Text(row.serial), Text(row.email)});
        item->setIcon(0, CertRowIcon(image, validity.state));
        item->setData(0, kRowRole, static_cast<qulonglong>(i));
        for (int column = 0; column < item->columnCount(); ++column) {
            item->setToolTip(column, tip);
        }
        item->setData(0, Qt::AccessibleDescriptionRole,
                      CertRowImageName(image, language) + QStringLiteral("; ") + tip);
        // Placed at the entry's index; the sorting then moves it to its place by name.
        const int at = std::min(static_cast<int>(i), m_list->topLevelItemCount());
        m_list->insertTopLevelItem(at, item.release());
    }
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(0, Qt::AscendingOrder);
    m_list->viewport()->update();
}

const CertRow* CCertPageDlg::SelectedEntry() const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->isSelected()) {
            const auto index = item->data(0, kRowRole).toULongLong();
            return index < m_rows.size() ? &m_rows[index] : nullptr;
        }
    }
    return nullptr;
}

void CCertPageDlg::OnSelectionChanged() {
    m_selected = SelectedEntry();
    UpdateButtons();
}

void CCertPageDlg::UpdateButtons() {
    const CertButtonState state = ButtonStateFor(m_selected);
    DlgItem(*this, IDC_CERT_SHOW)->setEnabled(state.show);
    DlgItem(*this, IDC_CERT_CHANGEPIN)->setEnabled(state.changePin);
    DlgItem(*this, IDC_CERT_UNBLOCKPIN)->setEnabled(state.unblockPin);
    DlgItem(*this, IDC_CERT_TMP)->setEnabled(false);
    DlgItem(*this, IDC_CERT_PERSONALIZE)->setVisible(state.personalize);
}

void CCertPageDlg::OnShow() {
    m_selected = SelectedEntry();
    if (m_selected != nullptr) {
        SaveAndOpenCertificate(m_selected->entry->GetCertContext());
    }
}

void CCertPageDlg::RunPinOperation(bool (*operation)(PCCERT_CONTEXT)) {
    m_selected = SelectedEntry();
    if (m_selected == nullptr || m_pinOperationRunning) {
        return;
    }
    // The entry stays alive for the operation even when the card goes meanwhile and the list
    // is refilled.
    const CertEntry entry = m_selected->entry;
    m_pinOperationRunning = true;
    const QPointer<CCertPageDlg> guard(this);
    const bool result =
        RunKeepingUiAlive(*this, [entry, operation] { return operation(entry->GetCertContext()); });
    if (guard) {
        m_pinOperationRunning = false;
        emit PinOperationEnded(result);
    }
}

void CCertPageDlg::OnChangePin() {
    RunPinOperation(&CspChangePin);
}

void CCertPageDlg::OnUnblockPin() {
    RunPinOperation(&CspUnblockPin);
}

void CCertPageDlg::OnPersonalize() {
    m_selected = SelectedEntry();
    if (m_selected == nullptr) {
        return;
    }
    const std::string reader = ReaderOf(*m_selected->entry);
    if (RunPersonalization(reader)) {
        m_restartStarted = true;
        reject();
    }
}
