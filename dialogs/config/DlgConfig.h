#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

// The configuration dialog: the language of the texts, the options shared with the minidriver
// and the logging settings, all kept in the process's settings. A language chosen in the list
// applies at once to the dialog and to every text the program fetches afterwards; Cancel
// takes it back. OK writes the settings and saves them to the registry.
class CDlgConfig : public QDialog {
    Q_OBJECT
public:
    // Remembers the language in force now, for Cancel.
    explicit CDlgConfig(QWidget* parent = nullptr);

    // Builds the controls and fills them from the settings (run by the first show, or by a
    // caller that drives the dialog without showing it).
    void OnInitDialog();

    void accept() override; // OK
    void reject() override; // Cancel, Escape, the window's close button

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Moves the members into the controls (false) or the controls into the members (true).
    void UpdateData(bool saveAndValidate);
    void SetTexts();
    void OnLanguageChanged(int index);
    void OnLevelChanged(int index);
    void OnLoggingClicked();

    QComboBox* m_languageList = nullptr;
    QComboBox* m_levelList = nullptr;
    QLineEdit* m_logFileEdit = nullptr;
    QCheckBox* m_hideUnused = nullptr;
    QCheckBox* m_lsk = nullptr;
    QCheckBox* m_keyboardPin = nullptr;
    QCheckBox* m_logging = nullptr;
    QCheckBox* m_balloonInfo = nullptr;
    QCheckBox* m_pinPad = nullptr;

    QString m_logFile;
    std::string m_logFileAtOpening;
    uint32_t m_selectedLanguage = 0;
    uint32_t m_languageAtOpening = 0;
    int m_loggingLevel = 0;
    bool m_initialised = false;
    bool m_settingTexts = false;
};
