#include "minidriver/md/ContainerKey.h"

#include "minidriver/md/CardKeyOperation.h"
#include "minidriver/md/MdNotify.h"
#include "minidriver/md/PinEntry.h"
#include "minidriver/md/Secret.h"

#include "card/SCard.h"
#include "platform/certstore/WinCryptTypes.h"

namespace velkmd {

namespace {

constexpr std::string_view kTitle = "Velkora Minidriver";

uint32_t ErrorOf(KeyResult result) {
    switch (result) {
    case KeyResult::Ok:
        return 0;
    case KeyResult::NotLoggedIn:
        return static_cast<uint32_t>(SCARD_W_SECURITY_VIOLATION);
    case KeyResult::BadInput:
    case KeyResult::NotSupported:
        return NTE_BAD_DATA;
    case KeyResult::CardGone:
        return static_cast<uint32_t>(SCARD_W_REMOVED_CARD);
    case KeyResult::Failed:
        break;
    }
    return static_cast<uint32_t>(SCARD_E_NOT_TRANSACTED);
}

// Connects, asks for the key's PIN and verifies it; then `operation` on the
// same connection.
template <typename Operation>
uint32_t WithVerifiedKey(const std::string& reader, const Container& container,
                         Operation&& operation) {
    const PinTarget* target = KeyPinOf(container.slot);
    if (target == nullptr) {
        return NTE_BAD_KEYSET;
    }
    const BusyIndicator busy(kTextReadingCard);
    SCard card(reader);
    if (!card.Connected()) {
        const LONG error = card.LastError();
        return error != SCARD_S_SUCCESS ? static_cast<uint32_t>(error)
                                        : static_cast<uint32_t>(SCARD_E_NO_SMARTCARD);
    }
    Secret pin;
    {
        PinEntry entry;
        if (!entry.Ok() || !entry.SetTitle(kTitle)) {
            return static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE);
        }
        const std::string name(target->name);
        if (!entry.SetDescription("Bitte geben Sie die " + name + " ein.") ||
            !entry.SetPrompt(name + ":")) {
            return static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE);
        }
        const PinEntry::Result asked = entry.GetPin(pin);
        if (asked == PinEntry::Result::Cancelled ||
            (asked == PinEntry::Result::Ok && pin.Empty())) {
            return static_cast<uint32_t>(SCARD_W_CANCELLED_BY_USER);
        }
        if (asked != PinEntry::Result::Ok) {
            return static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE);
        }
    }
    uint8_t triesLeft = 0;
    switch (VerifyKeyPin(card, container.slot, pin.View(), triesLeft)) {
    case scard::kPinOk:
        break;
    case scard::kPinNullPin:
        return static_cast<uint32_t>(SCARD_W_CARD_NOT_AUTHENTICATED);
    case scard::kPinBlocked:
    case scard::kPinMethodBlocked:
        return static_cast<uint32_t>(SCARD_W_CHV_BLOCKED);
    default:
        return static_cast<uint32_t>(SCARD_W_WRONG_CHV);
    }
    pin.Clear();
    return ErrorOf(operation(card));
}

} // namespace

uint32_t SignWithContainer(const std::string& reader, const Container& container,
                           std::span<const uint8_t> digestInfo, std::vector<uint8_t>& signature) {
    return WithVerifiedKey(reader, container, [&](SCard& card) {
        return SignOnCard(card, container.slot, digestInfo, signature);
    });
}

uint32_t DecipherWithContainer(const std::string& reader, const Container& container,
                               std::span<const uint8_t> cryptogram, std::vector<uint8_t>& plain) {
    return WithVerifiedKey(reader, container, [&](SCard& card) {
        return DecipherOnCard(card, container.slot, cryptogram, plain);
    });
}

} // namespace velkmd
