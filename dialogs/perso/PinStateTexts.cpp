#include "dialogs/perso/PinStateTexts.h"

#include "app/catalogue/Msg.h"

namespace {

constexpr unsigned IDS_NULL_PIN = 1442;

struct PinTexts {
    unsigned retriesLeft; // "OK (%d retries left)"
    unsigned blocked;
    unsigned notSet;  // 0: a status of 0 reads as retries left
    bool isSecondPin; // the PIN2s have no NULL-PIN mode of their own
};

constexpr PinTexts kTexts[] = {
    {1432, 1436, 0, false},
    {1432, 1437, 1440, true},
    {1434, 1438, 0, false},
    {1435, 1439, 1441, true},
};

// T-COS answers the state query of a PIN blocked by wrong tries with "authentication method
// blocked", which the query reports apart from a blocked PIN; the user sees both as blocked, and
// gets the button that unblocks.
bool IsBlocked(PinResult status) {
    return status == scard::kPinBlocked || status == scard::kPinMethodBlocked;
}

std::string WithCount(const char* format, unsigned count) {
    std::string text = format;
    if (const std::size_t at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(count));
    }
    return text;
}

} // namespace

std::string PinStateText(int index, PinResult status) {
    const PinTexts& texts = kTexts[index];
    if (status == scard::kPinNullPin) {
        return CMsg::Get(IDS_NULL_PIN);
    }
    if (IsBlocked(status)) {
        return CMsg::Get(texts.blocked);
    }
    if (status == 0 && texts.notSet != 0) {
        return CMsg::Get(texts.notSet);
    }
    return WithCount(CMsg::Get(texts.retriesLeft), status);
}

const char* PinButtonCaption(int index, PinResult status) {
    const PinTexts& texts = kTexts[index];
    if (texts.isSecondPin) {
        // A PIN2 that is not set yet gets its first value the way the card gives it one: by
        // resetting it with its partner PIN1. Changing it would need an old value it has not.
        return IsBlocked(status) || status == 0 ? "PIN2 entsperren" : "PIN2 ändern";
    }
    if (status == scard::kPinNullPin) {
        return "Null-PIN brechen";
    }
    return IsBlocked(status) ? "PIN entsperren" : "PIN ändern";
}
