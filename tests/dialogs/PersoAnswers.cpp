#include "tests/dialogs/PersoAnswers.h"

#include "dialogs/common/DialogBuilder.h"
#include "dialogs/perso/DlgPersoTCOS30.h"
#include "dialogs/perso/PersoIds.h"
#include "tests/dialogs/PromptAnswers.h"

#include <memory>

namespace dlgtest {

namespace {

void AnswerFrom(std::shared_ptr<std::vector<std::string>> entries, std::size_t next,
                std::vector<std::string>* groups) {
    if (next >= entries->size()) {
        return;
    }
    AnswerNextPrompt([entries, next, groups](CCardOSPINDialog& prompt) {
        if (groups != nullptr) {
            groups->push_back(prompt.m_strGroup);
        }
        const std::string& entry = (*entries)[next];
        if (entry.empty()) {
            prompt.reject();
            return;
        }
        Enter(prompt, entry.c_str());
        AnswerFrom(entries, next + 1, groups);
    });
}

std::string Joined(const CDlgPersoTCOS30& dialog, int firstId) {
    std::string joined;
    for (int i = 0; i < 4; ++i) {
        joined += (i == 0 ? "" : "|") + GetDlgItemText(dialog, firstId + i).toStdString();
    }
    return joined;
}

} // namespace

void AnswerPrompts(std::vector<std::string> entries, std::vector<std::string>* groups) {
    AnswerFrom(std::make_shared<std::vector<std::string>>(std::move(entries)), 0, groups);
}

std::string States(const CDlgPersoTCOS30& dialog) {
    return Joined(dialog, IDC_PERSO_PIN_STATE);
}

std::string Captions(const CDlgPersoTCOS30& dialog) {
    return Joined(dialog, IDC_PERSO_CARD_PIN1);
}

std::string ItemText(const CDlgPersoTCOS30& dialog, int id) {
    return GetDlgItemText(dialog, id).toStdString();
}

std::string BoxText(const std::string& box) {
    // msgbox, icon, caption, text, answer
    const std::size_t end = box.rfind('\t');
    const std::size_t start = end == std::string::npos || end == 0 ? end : box.rfind('\t', end - 1);
    return start == std::string::npos ? std::string() : box.substr(start + 1, end - start - 1);
}

} // namespace dlgtest
