#include "tests/dialogs/PromptAnswers.h"

#include "dialogs/common/DialogBuilder.h"
#include "dialogs/pin/PinDialogIds.h"
#include "tests/support/RecordLines.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace dlgtest {

void WhenModalOpens(const char* className, std::function<void(QWidget&)> action) {
    // Polls from the modal loop itself until the dialog is there; the timer ends with it.
    auto timer = std::make_shared<QTimer>();
    timer->setInterval(10);
    QObject::connect(timer.get(), &QTimer::timeout, [timer, className, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->inherits(className) && modal->isVisible()) {
            timer->stop();
            action(*modal);
            timer->disconnect();
        }
    });
    timer->start();
}

void AnswerNextPrompt(std::function<void(CCardOSPINDialog&)> answer) {
    WhenModalOpens("CCardOSPINDialog",
                   [answer](QWidget& modal) { answer(static_cast<CCardOSPINDialog&>(modal)); });
}

void Enter(CCardOSPINDialog& prompt, const char* pin) {
    QTest::keyClicks(DlgItem<QLineEdit>(prompt, IDC_PIN_EDIT), pin);
    QTest::mouseClick(DlgItem<QPushButton>(prompt, IDOK), Qt::LeftButton);
}

std::vector<std::string> Boxes(const std::string& log) {
    return velktest::RecordLines(log, "msgbox\t");
}

} // namespace dlgtest
