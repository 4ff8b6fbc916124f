#include "dialogs/config/DlgConfig.h"

#include "app/catalogue/Msg.h"
#include "app/settings/Config.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/config/DlgConfigResource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <iterator>

namespace {

constexpr unsigned kLanguageNameIds[] = {910, 911, 912}; // English, German, Swedish
constexpr int kLevelCount = 10;                          // "0" to "9"

} // namespace

CDlgConfig::CDlgConfig(QWidget* parent)
    : QDialog(parent), m_languageAtOpening(g_Config.GetLanguage()) {}

void CDlgConfig::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDlgConfig::OnInitDialog() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    BuildDialog(*this, ConfigDialogResource());
    m_languageList = DlgItem<QComboBox>(*this, IDC_CFG_LANGUAGE);
    m_levelList = DlgItem<QComboBox>(*this, IDC_CFG_LEVEL);
    m_logFileEdit = DlgItem<QLineEdit>(*this, IDC_CFG_LOGFILE);
    m_hideUnused = DlgItem<QCheckBox>(*this, IDC_CFG_HIDEUNUSED);
    m_lsk = DlgItem<QCheckBox>(*this, IDC_CFG_LSK);
    m_keyboardPin = DlgItem<QCheckBox>(*this, IDC_CFG_KEYBOARDPIN);
    m_logging = DlgItem<QCheckBox>(*this, IDC_CFG_LOGGING);
    m_balloonInfo = DlgItem<QCheckBox>(*this, IDC_CFG_BALLOONINFO);
    m_pinPad = DlgItem<QCheckBox>(*this, IDC_CFG_PINPAD);

    // The level list's items come with the dialog; sorted, "0" to "9" stay in that order.
    for (int level = 0; level < kLevelCount; ++level) {
        m_levelList->addItem(QString::number(level));
    }
    m_levelList->model()->sort(0);

    connect(DlgItem<QPushButton>(*this, IDC_CFG_OK), &QPushButton::clicked, this,
            &CDlgConfig::accept);
    connect(DlgItem<QPushButton>(*this, IDC_CFG_CANCEL), &QPushButton::clicked, this,
            &CDlgConfig::reject);
    connect(m_languageList, &QComboBox::activated, this, &CDlgConfig::OnLanguageChanged);
    connect(m_levelList, &QComboBox::activated, this, &CDlgConfig::OnLevelChanged);
    connect(m_logging, &QCheckBox::clicked, this, &CDlgConfig::OnLoggingClicked);

    m_selectedLanguage = g_Config.GetLanguage();
    SetTexts();
    m_hideUnused->setChecked(g_Config.GetHideUnusedCerts());
    m_lsk->setChecked(g_Config.GetLskProfile());
    m_logging->setChecked(g_Config.GetLoggingEnabled());
    m_keyboardPin->setChecked(g_Config.GetKeyboardPin());
    m_balloonInfo->setChecked(g_Config.GetShowBalloonInfo());
    m_pinPad->setChecked(g_Config.GetPinDialogEnabled());
    m_logFileAtOpening = g_Config.GetLogFile();
    m_logFile = QString::fromUtf8(m_logFileAtOpening);
    m_loggingLevel = static_cast<int>(g_Config.GetLoggingLevel());
    UpdateData(false);
}

void CDlgConfig::SetTexts() {
    SetCatalogueTexts(*this, ConfigDialogResource());
    const QSignalBlocker quiet(m_languageList);
    m_languageList->clear();
    for (const unsigned id : kLanguageNameIds) {
        m_languageList->addItem(QString::fromUtf8(CMsg::Get(id)));
    }
    // By its text, as the list shows it; a language outside the list selects nothing.
    const int index = m_selectedLanguage < std::size(kLanguageNameIds)
                          ? m_languageList->findText(
                                QString::fromUtf8(CMsg::Get(kLanguageNameIds[m_selectedLanguage])))
                          : -1;
    m_languageList->setCurrentIndex(index);
}

void CDlgConfig::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_logFile = m_logFileEdit->text();
        // A stored level outside the list leaves it without a selection; it stays as stored
        // unless the user chooses one.
        if (m_levelList->currentIndex() >= 0) {
            m_loggingLevel = m_levelList->currentIndex();
        }
        return;
    }
    m_logFileEdit->setText(m_logFile);
    const QSignalBlocker quiet(m_levelList);
    m_levelList->setCurrentIndex(
        m_loggingLevel >= 0 && m_loggingLevel < m_levelList->count() ? m_loggingLevel : -1);
}

void CDlgConfig::OnLanguageChanged(int index) {
    if (index < 0) {
        return;
    }
    // What the user typed so far survives the relabelling.
    UpdateData(true);
    m_selectedLanguage = static_cast<uint32_t>(index);
    g_Config.SetLanguage(m_selectedLanguage);
    SetTexts();
    UpdateData(false);
}

void CDlgConfig::OnLevelChanged(int /*index*/) {
    UpdateData(true);
    m_logging->setChecked(m_loggingLevel != 0);
    UpdateData(false);
}

void CDlgConfig::OnLoggingClicked() {
    UpdateData(true);
    m_loggingLevel = m_logging->isChecked() ? 1 : 0;
    UpdateData(false);
}

void CDlgConfig::accept() {
    OnInitDialog();
    UpdateData(true);
    g_Config.SetHideUnusedCerts(m_hideUnused->isChecked());
    g_Config.SetShowBalloonInfo(m_balloonInfo->isChecked());
    g_Config.SetKeyboardPin(m_keyboardPin->isChecked());
    g_Config.SetLskProfile(m_lsk->isChecked());
    g_Config.SetLoggingEnabled(m_logging->isChecked());
    // A stored path that is not UTF-8 is written back byte for byte unless it was edited.
    if (m_logFile != QString::fromUtf8(m_logFileAtOpening)) {
        g_Config.SetLogFile(m_logFile.toStdString());
    } else {
        g_Config.SetLogFile(m_logFileAtOpening);
    }
    g_Config.SetLanguage(m_selectedLanguage);
    g_Config.SetLoggingLevel(static_cast<uint32_t>(m_loggingLevel));
    g_Config.SetPinDialogEnabled(m_pinPad->isChecked());
    g_Config.Save();
    QDialog::accept();
}

void CDlgConfig::reject() {
    g_Config.SetLanguage(m_languageAtOpening);
    QDialog::reject();
}
