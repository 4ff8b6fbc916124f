// The personalization dialog as a real widget over the in-process PC/SC library, with the
// project's virtual card in a reader: what it shows for a card as the trust center delivers it,
// and the PIN buttons' operations as the card answers them.

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/certs/PersonalizeSeam.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/perso/DlgPersoTCOS30.h"
#include "dialogs/perso/PersoIds.h"
#include "dialogs/perso/PersonalizeRunner.h"
#include "pcscsim/SimControl.h"
#include "tests/dialogs/PersoAnswers.h"
#include "tests/dialogs/PromptAnswers.h"
#include "tests/dialogs/SimCardDialogTest.h"
#include "tests/events/MonitorProbe.h"
#include "vcard/VirtualCard.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace dlgtest;

constexpr uint8_t kChangeReferenceData = 0x24;
constexpr uint8_t kResetRetryCounter = 0x2C;

class PersoDlgTest : public SimCardDialogTest {
protected:
    // The PIN commands the card received since the last look.
    std::vector<std::vector<uint8_t>> PinCommands() {
        std::vector<std::vector<uint8_t>> commands;
        for (const auto& exchange : pcscsim::Trace(kReader)) {
            const auto& c = exchange.command;
            if (c.size() > 1 && (c[1] == kChangeReferenceData || c[1] == kResetRetryCounter)) {
                commands.push_back(c);
            }
        }
        pcscsim::ClearTrace(kReader);
        return commands;
    }
    std::string LastBox() {
        const auto boxes = Boxes(m_log);
        return boxes.empty() ? std::string() : BoxText(boxes.back());
    }
};

TEST_F(PersoDlgTest, DeliveredCardShowsNullPinsAndUnsetPin2sWithTheirCaptions) {
    Insert("tcos30-blank");
    CDlgPersoTCOS30 dialog(kReader);
    dialog.OnInitDialog();
    dialog.show();

    EXPECT_EQ(dialog.windowTitle().toStdString(), "Personalize TCOS 3.0");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_NUMBER).size(), 19u);
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_KEY_STATE), "is not available on the card yet");
    EXPECT_EQ(States(dialog), "NULL-PIN|PIN2 not set yet|NULL-PIN|SigG PIN2 not set yet");
    EXPECT_EQ(Captions(dialog),
              "Null-PIN brechen|PIN2 entsperren|Null-PIN brechen|PIN2 entsperren");
    // Tab reaches every button, in resource order. (The PIN buttons that read alike are told
    // apart by their frames: the end-to-end personalization finds them so.)
    QString order;
    QWidget* start = DlgItem(dialog, IDC_PERSO_BACK);
    for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
        if (qobject_cast<QPushButton*>(w) != nullptr && w->focusPolicy() & Qt::TabFocus) {
            order += w->objectName() + ' ';
        }
    }
    EXPECT_EQ(order.toStdString(), "1009 1010 1011 1012 1013 1015 ");

    // The certificates dialog's Personalize runs it modally; Back ends it without a restart.
    InstallPersonalizeRunner();
    std::string shown;
    WhenModalOpens("CDlgPersoTCOS30", [&shown](QWidget& modal) {
        shown = GetDlgItemText(modal, IDC_PERSO_PIN_STATE + 1).toStdString();
        DlgItem<QPushButton>(modal, IDC_PERSO_BACK)->click();
    });
    EXPECT_FALSE(RunPersonalization(kReader));
    EXPECT_EQ(shown, "PIN2 not set yet");
    SetPersonalizeRunner({});
}

TEST_F(PersoDlgTest, NullPinsBreakPin2sGetSetAndMismatchOrCancelSendNothing) {
    Insert("tcos30-blank");
    CDlgPersoTCOS30 dialog(kReader);
    dialog.OnInitDialog();
    PinCommands();

    // A repeat that differs by a trailing blank, and a cancel at the repeat prompt.
    std::vector<std::string> groups;
    AnswerPrompts({"123456", "123456 "}, &groups);
    dialog.OnCardPin1();
    EXPECT_EQ(
        LastBox(),
        "Die Eingaben für die neue PIN1 stimmen nicht überein. Der Vorgang wird abgebrochen.");
    AnswerPrompts({"123456", ""});
    dialog.OnCardPin1();
    EXPECT_EQ(LastBox(), "Vorgang abgebrochen.");
    EXPECT_TRUE(PinCommands().empty());

    // Breaking a NULL-PIN asks for the new PIN twice only, and sends the NULL-PIN as old value.
    groups.clear();
    AnswerPrompts({"123456", "123456"}, &groups);
    dialog.OnCardPin1();
    EXPECT_EQ(groups, (std::vector<std::string>{"neue PIN1", "neue PIN1"}));
    EXPECT_EQ(LastBox(), "PIN1 Änderung erfolgreich");
    const auto sent = PinCommands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<uint8_t>{0x00, 0x24, 0x00, 0x00, 12, 0, 0, 0, 0, 0, 0, '1', '2',
                                             '3', '4', '5', '6'}));

    AnswerPrompts({"654321", "654321"});
    dialog.OnSigPin1();
    EXPECT_EQ(LastBox(), "SigG PIN1 Änderung erfolgreich");

    // A PIN2 not set yet gets its first value from its PIN1.
    groups.clear();
    AnswerPrompts({"123456", "11112222", "11112222"}, &groups);
    dialog.OnCardPin2();
    EXPECT_EQ(groups, (std::vector<std::string>{"PIN1", "neue PIN2", "neue PIN2"}));
    EXPECT_EQ(LastBox(), "PIN2 Entsperren erfolgreich");
    AnswerPrompts({"654321", "33334444", "33334444"});
    dialog.OnSigPin2();
    EXPECT_EQ(LastBox(), "SigG PIN2 Entsperren erfolgreich");

    EXPECT_EQ(Captions(dialog), "PIN ändern|PIN2 ändern|PIN ändern|PIN2 ändern");

    // Change mode with a wrong old PIN: the card refuses, and the lost try shows at once.
    AnswerPrompts({"000000", "999999", "999999"});
    dialog.OnSigPin2();
    EXPECT_EQ(LastBox(), "SigG PIN2 Änderung fehlgeschlagen");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_PIN_STATE + 3), "OK (2 retries left)");
}

TEST_F(PersoDlgTest, CardWithoutTcosNumberKeepsTheResourceCaptionsAndCaseStillSelectsUnblock) {
    Insert("micardo");
    CDlgPersoTCOS30 dialog(kReader);
    dialog.OnInitDialog();
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_NUMBER), "0000000000000000000");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_KEY_STATE), "");
    EXPECT_EQ(States(dialog), "|||");
    EXPECT_EQ(Captions(dialog),
              "Karten Pin ändern|Karten PIN2 ändern|SigG Pin ändern|SigG PIN2 ändern");

    std::vector<std::string> groups;
    SetDlgItemText(dialog, IDC_PERSO_CARD_PIN1, "pin ENTSPERREN");
    AnswerPrompts({""}, &groups);
    dialog.OnCardPin1();
    EXPECT_EQ(groups, std::vector<std::string>{"PIN2"});
    SetDlgItemText(dialog, IDC_PERSO_SIG_PIN1, "NULL-pin BRECHEN");
    groups.clear();
    AnswerPrompts({""}, &groups);
    dialog.OnSigPin1();
    EXPECT_EQ(groups, std::vector<std::string>{"neue SigG PIN1"});
    EXPECT_EQ(LastBox(), "Vorgang abgebrochen.");
}

} // namespace
