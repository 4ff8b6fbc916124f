#include "dialogs/pin/WritePublicKeyWithPin.h"

#include "app/catalogue/Msg.h"
#include "card/SCard.h"
#include "dialogs/common/DialogResource.h"
#include "dialogs/pin/CardOSPINDialog.h"
#include "platform/qt/MessageBox.h"

#include <memory>

using namespace scard;

namespace {

constexpr const char* kCertificatePath = "3f00df01c000";
constexpr uint8_t kCardPinReference = 0;

constexpr unsigned IDS_ERROR = 500;
constexpr unsigned IDS_NULL_PIN = 501;
constexpr unsigned IDS_PIN_WRONG = 502;
constexpr unsigned IDS_PIN_BLOCKED = 503;
constexpr unsigned IDS_PERSONALIZATION = 504;
constexpr unsigned IDS_KEY_WRITTEN = 505;
constexpr unsigned IDS_KEY_FAILED = 506;

constexpr const char* kPinGroup = "PIN";
constexpr const char* kPinPrompt =
    "Damit Sie mit der Signatur-Karte unterzeichnen können, muss sie erst zum Unterschreiben "
    "vorbereitet werden. Dazu ist der Karten-PIN erforderlich. Bitte geben Sie den Karten-PIN "
    "ein.";
constexpr const char* kPinLabel = "Karten-PIN";

} // namespace

unsigned VerifyFailureMessage(unsigned pinResult) {
    switch (pinResult) {
    case kPinNullPin:
        return IDS_NULL_PIN;
    case kPinBlocked:
    case kPinMethodBlocked:
        return IDS_PIN_BLOCKED;
    case 7:
    case kPinFailed:
        return IDS_PIN_WRONG;
    default:
        return 0;
    }
}

bool WritePublicKeyWithPin(const std::string& readerName) {
    SCard card(readerName);

    const auto prompt = std::make_unique<CCardOSPINDialog>(kPinGroup, kPinPrompt, kPinLabel);
    if (prompt->DoModal() != IDOK) {
        return false;
    }
    uint8_t triesLeft = 0;
    const PinResult verified =
        card.Verify(kCertificatePath, kCardPinReference, prompt->m_strPin, triesLeft);
    if (verified != kPinOk) {
        if (const unsigned text = VerifyFailureMessage(verified); text != 0) {
            ShowMessageBox(CMsg::Get(text), CMsg::Get(IDS_ERROR), MsgIcon::Error);
        }
        return false;
    }

    const PinResult written = card.WriteMakerKey();
    if (written != kPinOk) {
        ShowMessageBox(CMsg::Get(IDS_KEY_FAILED), CMsg::Get(IDS_PERSONALIZATION), MsgIcon::Error);
        return false;
    }
    ShowMessageBox(CMsg::Get(IDS_KEY_WRITTEN), CMsg::Get(IDS_PERSONALIZATION),
                   MsgIcon::Information);
    return true;
}
