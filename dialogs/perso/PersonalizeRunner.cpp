#include "dialogs/perso/PersonalizeRunner.h"

#include "dialogs/certs/PersonalizeSeam.h"
#include "dialogs/perso/DlgPersoTCOS30.h"

#include <memory>

void InstallPersonalizeRunner() {
    SetPersonalizeRunner([](const std::string& readerName) {
        const auto dialog = std::make_unique<CDlgPersoTCOS30>(readerName);
        dialog->DoModal();
        return dialog->m_bRestartStarted;
    });
}
