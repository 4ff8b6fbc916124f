#include "monitor/qt/MonitorUi.h"

#include "monitor/BuildCertificateList.h"
#include "monitor/CardUtils.h"
#include "monitor/qt/ShellExecute.h"
#include "platform/qt/MessageBox.h"

#include <QCoreApplication>
#include <QEventLoop>

bool SaveAndOpenCertificate(PCCERT_CONTEXT cert) {
    const std::string path = SaveCertificateFile(cert);
    if (path.empty()) {
        return false;
    }
    return ShellExecuteA(nullptr, "open", path.c_str(), nullptr, ".", SW_SHOWNORMAL) > 32;
}

void BuildCertificateList(void* /*ownerWindow*/) {
    std::string error;
    BuildCertificateListCore(error);
    if (!error.empty()) {
        ShowMessageBox(error.c_str(), kBuildListCaption, MsgIcon::Error);
    }
}

int PumpMessages() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return 0;
}
