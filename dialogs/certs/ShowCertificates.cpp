#include "dialogs/certs/ShowCertificates.h"

#include "dialogs/certs/CertPageDlg.h"

#include <memory>

bool ShowCertificatesDialog() {
    if (CCertPageDlg::OpenDialog() != nullptr) {
        return false;
    }
    const auto dialog = std::make_unique<CCertPageDlg>();
    dialog->DoModal();
    return dialog->RestartStarted();
}

void CloseCertificatesDialog() {
    if (CCertPageDlg* dialog = CCertPageDlg::OpenDialog()) {
        dialog->accept();
    }
}
