// The PIN prompt and the wait window as real widgets, and the PIN-verified write of the maker's
// key over the in-process PC/SC library with the project's virtual card in a reader.

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/pin/CardOSPINDialog.h"
#include "dialogs/pin/DlgWait.h"
#include "dialogs/pin/PinDialogIds.h"
#include "dialogs/pin/WritePublicKeyWithPin.h"
#include "pcscsim/SimControl.h"
#include "tests/dialogs/PromptAnswers.h"
#include "tests/dialogs/SimCardDialogTest.h"
#include "tests/events/MonitorProbe.h"
#include "vcard/VirtualCard.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

TEST(PinDialog, HiddenEntryEmptyOkRefusedFixedTitleAndTheEntryWiped) {
    for (const int language : {0, 1, 2}) {
        CMsg::SetLanguage(language);
        CCardOSPINDialog dialog("alte PIN1", "Bitte geben Sie die alte PIN1 ein.", "alte PIN1");
        EXPECT_EQ(dialog.windowTitle(), QString("Personalisierung"));
        EXPECT_EQ(GetDlgItemText(dialog, IDC_PIN_PROMPT),
                  QString("Bitte geben Sie die alte PIN1 ein."));
        EXPECT_EQ(GetDlgItemText(dialog, IDCANCEL), QString("Abbrechen"));
        auto* edit = DlgItem<QLineEdit>(dialog, IDC_PIN_EDIT);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->accessibleName(), QString("alte PIN1"));

        dialog.show();
        QTest::mouseClick(DlgItem<QPushButton>(dialog, IDOK), Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible()) << "OK with an empty entry closed the prompt";

        QTest::keyClicks(edit, "1357");
        // A copy taken from the edit shares its buffer, as every copy Qt makes of it does.
        const QString copy = edit->text();
        QTest::mouseClick(DlgItem<QPushButton>(dialog, IDOK), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.m_strPin, "1357");
        EXPECT_TRUE(edit->text().isEmpty());
        EXPECT_EQ(copy, QString(4, QChar(0))) << "the entry outlived the prompt in the edit";
    }

    // Escape cancels, and DoModal says so; what was typed is gone.
    CCardOSPINDialog dialog("PIN", "prompt", "label");
    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) {
        QTest::keyClicks(DlgItem<QLineEdit>(prompt, IDC_PIN_EDIT), "2468");
        QTest::keyClick(&prompt, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(dialog.m_strPin.empty());

    CDlgWait wait("Bitte Warten.\nZertifikate werden auf die Karte geschrieben.");
    EXPECT_TRUE(wait.Create());
    EXPECT_TRUE(wait.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(GetDlgItemText(wait, IDC_WAIT_TEXT),
              QString("Bitte Warten.\nZertifikate werden auf die Karte geschrieben."));
}

class WritePublicKeyTest : public dlgtest::SimCardDialogTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SimCardDialogTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(Insert("tcos30"));
    }

    // The instructions the card received since the last look.
    std::vector<uint8_t> Instructions() {
        std::vector<uint8_t> ins;
        for (const auto& exchange : pcscsim::Trace(kReader)) {
            if (exchange.command.size() > 1) {
                ins.push_back(exchange.command[1]);
            }
        }
        pcscsim::ClearTrace(kReader);
        return ins;
    }
};

TEST_F(WritePublicKeyTest, CancelSendsNothingAndEachPinStateHasItsMessage) {
    static constexpr uint8_t kVerify = 0x20;
    auto verifies = [](const std::vector<uint8_t>& ins) {
        return std::count(ins.begin(), ins.end(), kVerify);
    };

    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) { prompt.reject(); });
    EXPECT_FALSE(WritePublicKeyWithPin(kReader));
    EXPECT_EQ(verifies(Instructions()), 0) << "a cancelled prompt reached the card";
    EXPECT_TRUE(dlgtest::Boxes(m_log).empty());

    // A fresh card still has its NULL-PIN.
    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) { dlgtest::Enter(prompt, "123456"); });
    EXPECT_FALSE(WritePublicKeyWithPin(kReader));
    EXPECT_EQ(dlgtest::Boxes(m_log).back(),
              "msgbox\terror\tError\tInitial PIN is active, please change the PIN.\tok");

    {
        SCard card(kReader);
        uint8_t tries = 0;
        const std::vector<uint8_t> nullPin(6, 0x00);
        const std::vector<uint8_t> pin{'1', '2', '3', '4', '5', '6'};
        ASSERT_EQ(card.ChangeReferenceData("3f002f02", 0x00, nullPin, pin, tries), 0);
    }
    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) { dlgtest::Enter(prompt, "999999"); });
    EXPECT_FALSE(WritePublicKeyWithPin(kReader));
    EXPECT_EQ(dlgtest::Boxes(m_log).back(), "msgbox\terror\tError\tPIN is wrong.\tok");

    Instructions();
    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) { dlgtest::Enter(prompt, "123456"); });
    EXPECT_TRUE(WritePublicKeyWithPin(kReader));
    EXPECT_EQ(verifies(Instructions()), 1);
    EXPECT_EQ(dlgtest::Boxes(m_log).back(),
              "msgbox\tinformation\tPersonalization\tVelkora Publickey successfully written.\tok");
    EXPECT_TRUE(SCard(kReader).HasMakerKey());

    // The card's answers, not the program's wishes: three wrong PINs block it.
    for (int i = 0; i < 3; ++i) {
        dlgtest::AnswerNextPrompt(
            [](CCardOSPINDialog& prompt) { dlgtest::Enter(prompt, "000000"); });
        EXPECT_FALSE(WritePublicKeyWithPin(kReader));
    }
    dlgtest::AnswerNextPrompt([](CCardOSPINDialog& prompt) { dlgtest::Enter(prompt, "123456"); });
    EXPECT_FALSE(WritePublicKeyWithPin(kReader));
    EXPECT_EQ(dlgtest::Boxes(m_log).back(), "msgbox\terror\tError\tPIN is blocked.\tok");
}

} // namespace
