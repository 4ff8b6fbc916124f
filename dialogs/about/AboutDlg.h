#pragma once

#include <QDialog>
#include <QString>

class CStaticLink;

// The About dialog behind the tray's "Info": the program's version with the revision it was
// built from, the versions of the minidriver's three modules, the provider of the maker's
// card, and the maker's web and support links.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebAddress = "https://www.velkora.example";
    static constexpr const char* kSupportAddress = "support@velkora.example";
    static constexpr const char* kSupportSubject =
        "Supportanfrage%20Velkora%20certificate%20manager";

    explicit CAboutDlg(QWidget* parent = nullptr);

    // Builds and fills the dialog (run by the first show, or by a caller that reads the dialog
    // without showing it).
    void OnInitDialog();

    CStaticLink* WebLink() const { return m_webLink; }
    CStaticLink* SupportLink() const { return m_supportLink; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateData();

    CStaticLink* m_webLink = nullptr;
    CStaticLink* m_supportLink = nullptr;
    QString m_version;
    QString m_minidriver;
    QString m_pkcs11;
    QString m_cspDll;
    QString m_cspText;
    bool m_initialised = false;
};
