#include "dialogs/pin/CardOSPINDialog.h"

#include "dialogs/common/DialogBuilder.h"
#include "dialogs/pin/PinDialogIds.h"
#include "dialogs/pin/SecretText.h"

#include <QLineEdit>
#include <QPushButton>

namespace {

// A PIN and the tele-password are short; room for them up front keeps m_strPin from leaving
// copies behind when it grows.
constexpr std::size_t kSecretRoom = 128;

constexpr DlgControlResource kControls[] = {
    {IDC_PIN_GROUP, DlgControlKind::GroupBox, 7, 7, 225, 82, "", 0},
    {IDC_PIN_PROMPT, DlgControlKind::Static, 15, 19, 209, 41, "", 0, kDlgMultiLine},
    {IDC_PIN_LABEL, DlgControlKind::Static, 50, 67, 50, 8, "", 0},
    {IDC_PIN_EDIT, DlgControlKind::Edit, 111, 64, 70, 14, "", 0, kDlgPassword | kDlgBorder},
    {IDOK, DlgControlKind::PushButton, 125, 92, 50, 14, "OK", 0, kDlgDefault},
    {IDCANCEL, DlgControlKind::PushButton, 182, 92, 50, 14, "Abbrechen", 0},
};

constexpr DlgResource kResource{IDD_CARDOS_PIN, "Personalisierung", 0, "MS Shell Dlg", 8, 239, 114,
                                true,           kControls};

} // namespace

CCardOSPINDialog::CCardOSPINDialog(std::string group, std::string prompt, std::string label,
                                   QWidget* parent)
    : QDialog(parent), m_strGroup(std::move(group)), m_strPrompt(std::move(prompt)),
      m_strLabel(std::move(label)) {
    m_strPin.reserve(kSecretRoom);
    BuildDialog(*this, kResource);
    SetDlgItemText(*this, IDC_PIN_GROUP, QString::fromStdString(m_strGroup));
    SetDlgItemText(*this, IDC_PIN_PROMPT, QString::fromStdString(m_strPrompt));
    SetDlgItemText(*this, IDC_PIN_LABEL, QString::fromStdString(m_strLabel));
    m_pinEdit = DlgItem<QLineEdit>(*this, IDC_PIN_EDIT);
    m_pinEdit->setAccessibleName(QString::fromStdString(m_strLabel));
    m_pinEdit->setFocus();
    connect(DlgItem<QPushButton>(*this, IDOK), &QPushButton::clicked, this,
            &CCardOSPINDialog::accept);
    connect(DlgItem<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this,
            &CCardOSPINDialog::reject);
}

CCardOSPINDialog::~CCardOSPINDialog() {
    WipeText(m_strPin);
}

int CCardOSPINDialog::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CCardOSPINDialog::TakeEntry() {
    WipeText(m_strPin);
    QString text = m_pinEdit->text();
    QByteArray bytes = text.toUtf8();
    if (static_cast<std::size_t>(bytes.size()) > m_strPin.capacity()) {
        m_strPin.reserve(static_cast<std::size_t>(bytes.size()));
    }
    m_strPin.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    WipeText(bytes);
    WipeText(text);
    m_pinEdit->clear();
}

void CCardOSPINDialog::accept() {
    TakeEntry();
    if (m_strPin.empty()) {
        return; // an empty entry is not accepted; Cancel is the way out
    }
    QDialog::accept();
}

void CCardOSPINDialog::done(int result) {
    if (result != QDialog::Accepted) {
        // Whatever was typed stays nowhere when the prompt is cancelled.
        TakeEntry();
        WipeText(m_strPin);
    }
    QDialog::done(result);
}
