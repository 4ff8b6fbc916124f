#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

// The modal prompt for one secret (a PIN or the tele-password). The caller passes the group,
// prompt and label texts and, after DoModal returned IDOK, reads m_strPin. The title stays
// "Personalisierung" for every use. When the dialog ends, the entry is wiped from the edit
// and from every copy on the way to m_strPin, and m_strPin is wiped with the object.
class CCardOSPINDialog : public QDialog {
    Q_OBJECT
public:
    CCardOSPINDialog(std::string group, std::string prompt, std::string label,
                     QWidget* parent = nullptr);
    ~CCardOSPINDialog() override;

    // IDOK (1) or IDCANCEL (2).
    int DoModal();

    std::string m_strPin;
    std::string m_strGroup;
    std::string m_strPrompt;
    std::string m_strLabel;

public slots:
    // OK: closes with IDOK unless the entry is empty.
    void accept() override;
    void done(int result) override;

private:
    // Takes the entry into m_strPin and wipes it from the edit.
    void TakeEntry();

    QLineEdit* m_pinEdit = nullptr;
};
