// The four PIN buttons of the personalization dialog: change a PIN, unblock it with its partner
// PIN, or give a PIN in its NULL-PIN state its first value. The mode is what the button's
// caption says.

#include "dialogs/perso/DlgPersoTCOS30.h"

#include "card/SCard.h"
#include "dialogs/perso/EnteredPin.h"
#include "dialogs/perso/PinMembers.h"
#include "dialogs/pin/CardOSPINDialog.h"
#include "dialogs/pin/PinDialogIds.h"
#include "platform/qt/MessageBox.h"

#include <QGuiApplication>
#include <QPushButton>

#include <array>
#include <memory>

namespace {

constexpr const char* kCaption = "Personalisierung";
constexpr const char* kCancelled = "Vorgang abgebrochen.";

// The T-COS NULL-PIN: the transport value a PIN holds until it gets its first own value.
constexpr std::array<uint8_t, 6> kNullPin{};

// Boxes without a caption of their own carry the program's name, as the platform's default.
QString DefaultCaption() {
    return QGuiApplication::applicationDisplayName();
}

// One prompt of its own, gone when it returns. False when it was cancelled.
bool Ask(const PinPrompt& texts, CEnteredPin& into) {
    const auto prompt = std::make_unique<CCardOSPINDialog>(texts.group, texts.prompt, texts.label);
    return prompt->DoModal() == IDOK && into.Take(prompt->m_strPin);
}

} // namespace

void CDlgPersoTCOS30::RunPinOperation(int index) {
    const PinMember& member = PinMemberAt(index);
    const PinMode mode = PinModeOf(member, m_pinButtons[index]->text().toStdString());

    CEnteredPin first;
    CEnteredPin newPin;
    CEnteredPin repeated;
    const bool entered = (mode == PinMode::NullPin ||
                          Ask(mode == PinMode::Unblock ? member.unblock : member.change, first)) &&
                         Ask(member.newPin, newPin) && Ask(member.repeat, repeated);
    if (!entered) {
        ShowMessageBox(QString::fromUtf8(kCancelled), DefaultCaption(), MsgIcon::None);
        return;
    }
    if (!newPin.SameAs(repeated)) {
        ShowMessageBox(QString::fromUtf8(member.mismatch), DefaultCaption(), MsgIcon::None);
        return;
    }

    PinResult result = scard::kPinFailed;
    {
        SCard card(m_strReader);
        uint8_t triesLeft = 0;
        switch (mode) {
        case PinMode::NullPin:
            result = card.ChangeReferenceData(member.path, member.reference, kNullPin,
                                              newPin.Bytes(), triesLeft);
            break;
        case PinMode::Unblock:
            result = card.ResetRetryCounter(member.path, member.reference, first.Bytes(),
                                            newPin.Bytes(), triesLeft);
            break;
        case PinMode::Change:
            result = card.ChangeReferenceData(member.path, member.reference, first.Bytes(),
                                              newPin.Bytes(), triesLeft);
            break;
        }
    }

    const bool unblock = mode == PinMode::Unblock;
    if (result == scard::kPinOk) {
        ShowMessageBox(unblock ? member.unblocked : member.changed, kCaption, MsgIcon::None);
    } else {
        ShowMessageBox(unblock ? member.unblockFailed : member.changeFailed, kCaption,
                       MsgIcon::Error);
    }
    RefreshCardState();
    UpdateControls();
}
