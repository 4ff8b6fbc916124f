// The personalization dialog through the real stack: libpcsclite, a private pcscd, a vpcd
// reader and the virtual card process in it, with a card as the trust center delivers it.

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/common/DialogBuilder.h"
#include "dialogs/perso/DlgPersoTCOS30.h"
#include "dialogs/perso/PersoIds.h"
#include "tests/dialogs/PersoAnswers.h"
#include "tests/dialogs/PromptAnswers.h"
#include "tests/support/VirtualPcscd.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace dlgtest;

TEST(PersoThroughPcscd, DeliveredCardGetsItsPinsAndKeyAndABlockedPinIsUnblocked) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CMsg::SetLanguage(0);
    const std::string log = (dir.path() + "/boxes.log").toStdString();
    ::setenv("VELKORA_MSGBOX_LOG", log.c_str(), 1);
    const auto lastBox = [&log] { return BoxText(Boxes(log).back()); };

    velktest::VirtualPcscd pcscd(1);
    ASSERT_TRUE(pcscd.Ok()) << "private pcscd did not come up";
    ASSERT_TRUE(pcscd.InsertCard(0, "tcos30-blank", (dir.path() + "/delivered.img").toStdString()));
    const std::string reader = pcscd.ReaderName(0);

    CDlgPersoTCOS30 dialog(reader);
    dialog.OnInitDialog();

    AnswerPrompts({"123456", "123456"});
    dialog.OnCardPin1();
    EXPECT_EQ(lastBox(), "PIN1 Änderung erfolgreich");
    AnswerPrompts({"135790", "135790"});
    dialog.OnSigPin1();
    EXPECT_EQ(lastBox(), "SigG PIN1 Änderung erfolgreich");
    AnswerPrompts({"123456", "87654321", "87654321"});
    dialog.OnCardPin2();
    EXPECT_EQ(lastBox(), "PIN2 Entsperren erfolgreich");
    EXPECT_EQ(States(dialog), "OK (3 retries left)|OK (3 retries left)|OK (3 retries left)|SigG "
                              "PIN2 not set yet");

    // Three wrong old PINs: the card blocks the PIN and answers its state query as a blocked
    // authentication method.
    for (const char* left : {"OK (2 retries left)", "OK (1 retries left)", "PIN1 blocked"}) {
        AnswerPrompts({"999999", "111111", "111111"});
        dialog.OnCardPin1();
        EXPECT_EQ(lastBox(), "PIN1 Änderung fehlgeschlagen");
        EXPECT_EQ(ItemText(dialog, IDC_PERSO_PIN_STATE), left);
    }
    EXPECT_EQ(SCard(reader).CardPin1Status(), scard::kPinMethodBlocked);
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_PIN1), "PIN entsperren");

    std::vector<std::string> groups;
    AnswerPrompts({"87654321", "222222", "222222"}, &groups);
    dialog.OnCardPin1();
    EXPECT_EQ(groups, (std::vector<std::string>{"PIN2", "neue PIN1", "neue PIN1"}));
    EXPECT_EQ(lastBox(), "PIN1 Entsperren erfolgreich");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_PIN_STATE), "OK (3 retries left)");
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_CARD_PIN1), "PIN ändern");

    // The maker's key, and the dialog says at once that it is there.
    AnswerPrompts({"222222"});
    dialog.OnWriteMakerKey();
    EXPECT_EQ(lastBox(), "Velkora Publickey successfully written.");
    EXPECT_TRUE(SCard(reader).HasMakerKey());
    EXPECT_EQ(ItemText(dialog, IDC_PERSO_KEY_STATE), "is already available on the card");
    ::unsetenv("VELKORA_MSGBOX_LOG");
}

} // namespace
