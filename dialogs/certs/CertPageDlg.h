#pragma once

#include "dialogs/certs/CertListHandOver.h"
#include "monitor/CertCollection.h"

#include <QDialog>

#include <vector>

class QPushButton;
class QTreeWidget;

// The certificates dialog: the registered card certificates with name, issuer, serial number
// and e-mail address; for the selected one Show, Change PIN, Unblock PIN and, for the cards
// whose containers allow it, Personalize. All its texts come from the catalogue.
//
// While it is open it is the dialog that the monitor and the propagation refresh. They ask
// from their own threads; the list is refilled here, on the user-interface thread.
class CCertPageDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCertPageDlg(QWidget* parent = nullptr);
    ~CCertPageDlg() override;

    // Initializes the dialog and runs it modally: IDOK (Back) or IDCANCEL.
    int DoModal();
    // The dialog's initialization; DoModal runs it (tests that show the dialog without a
    // modal loop call it themselves).
    void OnInitDialog();
    // A personalization has launched a restarted instance of the program.
    bool RestartStarted() const { return m_restartStarted; }

    // Refills the list from the certificate list (user-interface thread).
    void FillList();

    // The open certificates dialog, or null (user-interface thread).
    static CCertPageDlg* OpenDialog();

    // Null when no row is selected; otherwise the first selected row.
    const CertRow* SelectedEntry() const;

    // The button handlers.
    void OnShow();
    void OnChangePin();
    void OnUnblockPin();
    void OnPersonalize();

signals:
    // A PIN operation has ended (tests wait for it).
    void PinOperationEnded(bool result);

private:
    void UpdateButtons();
    void OnSelectionChanged();
    void OnRefreshRequested();
    void RunPinOperation(bool (*operation)(PCCERT_CONTEXT));

    QTreeWidget* m_list = nullptr;
    const CertRow* m_selected = nullptr;
    std::vector<CertRow> m_rows;
    bool m_restartStarted = false;
    bool m_pinOperationRunning = false;
    CCertListHandOver m_handOver;
};
