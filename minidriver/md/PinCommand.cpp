// The PIN commands of the provider: the minidriver asks the user for the PINs
// itself and sends change or unblock to the card.

#include "minidriver/md/CardLayout.h"
#include "minidriver/md/MdNotify.h"
#include "minidriver/md/Minidriver.h"
#include "minidriver/md/PinEntry.h"
#include "minidriver/md/Secret.h"

#include "card/SCard.h"
#include "platform/certstore/WinCryptTypes.h"

#include <string>

namespace velkmd {

namespace {

constexpr std::string_view kChangePrefix = "md@cp@0";
constexpr std::string_view kUnblockPrefix = "md@up@0";
constexpr std::string_view kEndCommand = "md@cls@@";

constexpr std::string_view kTitle = "Velkora Minidriver";

// The transport value of a PIN in its NULL-PIN state, as the card operating
// system defines it: six bytes 00.
constexpr uint8_t kNullPin[6] = {};

enum class Mode { Change, Unblock };

uint32_t CardError(PinResult result) {
    switch (result) {
    case scard::kPinOk:
        return 0;
    case scard::kPinBlocked:
    case scard::kPinMethodBlocked:
        return static_cast<uint32_t>(SCARD_W_CHV_BLOCKED);
    default:
        return static_cast<uint32_t>(SCARD_W_WRONG_CHV);
    }
}

// One prompt; Ok only for a non-empty entry (an empty one counts as a cancel).
PinEntry::Result Ask(PinEntry& entry, const std::string& description, std::string_view prompt,
                     Secret& out) {
    if (!entry.SetDescription(description) || !entry.SetPrompt(prompt)) {
        return PinEntry::Result::Failed;
    }
    const PinEntry::Result result = entry.GetPin(out);
    if (result == PinEntry::Result::Ok && out.Empty()) {
        return PinEntry::Result::Cancelled;
    }
    return result;
}

uint32_t PromptError(PinEntry::Result result) {
    return result == PinEntry::Result::Cancelled
               ? static_cast<uint32_t>(SCARD_W_CANCELLED_BY_USER)
               : static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE);
}

uint32_t Run(const std::string& reader, Mode mode, const PinTarget& target) {
    const BusyIndicator busy(kTextReadingCard);
    const PinTarget* partner = PinTargetOf(target.partner);
    SCard card(reader);
    if (!card.Connected()) {
        const LONG error = card.LastError();
        return error != SCARD_S_SUCCESS ? static_cast<uint32_t>(error)
                                        : static_cast<uint32_t>(SCARD_E_NO_SMARTCARD);
    }
    const PinResult state = card.GetPinStatus(target.statusPath, target.reference);
    const std::string name(target.name);
    const bool blocked = state == scard::kPinBlocked || state == scard::kPinMethodBlocked;
    if (mode == Mode::Change && blocked) {
        return static_cast<uint32_t>(SCARD_W_CHV_BLOCKED);
    }
    const bool nullPin = mode == Mode::Change && state == scard::kPinNullPin;

    PinEntry entry;
    if (!entry.Ok() || !entry.SetTitle(kTitle)) {
        return static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE);
    }
    Secret first;
    PinEntry::Result asked = PinEntry::Result::Ok;
    if (mode == Mode::Unblock) {
        const std::string partnerName(partner ? partner->name : "PIN");
        asked =
            Ask(entry,
                "Bitte geben Sie die " + partnerName + " ein, um die " + name + " zu entsperren.",
                partnerName + ":", first);
    } else if (nullPin) {
        first.Assign(kNullPin);
    } else {
        asked =
            Ask(entry, "Bitte geben Sie die alte " + name + " ein.", "alte " + name + ":", first);
    }
    if (asked != PinEntry::Result::Ok) {
        return PromptError(asked);
    }
    Secret fresh;
    Secret repeated;
    const std::string newText =
        nullPin
            ? "Die " + name + " ist noch die Null-PIN. Bitte geben Sie die neue " + name + " ein."
            : "Bitte geben Sie die neue " + name + " ein.";
    asked = Ask(entry, newText, "neue " + name + ":", fresh);
    if (asked == PinEntry::Result::Ok) {
        asked = Ask(entry, "Bitte wiederholen Sie die neue " + name + ".", "neue " + name + ":",
                    repeated);
    }
    if (asked != PinEntry::Result::Ok) {
        return PromptError(asked);
    }
    if (!fresh.Equals(repeated)) {
        return static_cast<uint32_t>(SCARD_E_INVALID_CHV);
    }
    uint8_t triesLeft = 0;
    const PinResult result = mode == Mode::Change
                                 ? card.ChangeReferenceData(target.path, target.reference,
                                                            first.View(), fresh.View(), triesLeft)
                                 : card.ResetRetryCounter(target.path, target.reference,
                                                          first.View(), fresh.View(), triesLeft);
    // A refusal that names no tries left is about the new PIN (length, characters).
    if (result == scard::kPinFailed && card.Sw1() == 0x6A && card.Sw2() == 0x80) {
        return static_cast<uint32_t>(SCARD_E_INVALID_CHV);
    }
    return CardError(result);
}

} // namespace

bool IsEndCommand(std::string_view value) {
    return value == kEndCommand;
}

bool IsPinCommand(std::string_view value) {
    return value.size() == kChangePrefix.size() + 1 &&
           (value.substr(0, kChangePrefix.size()) == kChangePrefix ||
            value.substr(0, kUnblockPrefix.size()) == kUnblockPrefix);
}

uint32_t RunPinCommand(const std::string& reader, std::string_view command) {
    if (!IsPinCommand(command)) {
        return NTE_BAD_DATA;
    }
    const PinTarget* target = PinTargetOf(command.back());
    if (target == nullptr) {
        return NTE_BAD_DATA;
    }
    const Mode mode =
        command.substr(0, kChangePrefix.size()) == kChangePrefix ? Mode::Change : Mode::Unblock;
    return Run(reader, mode, *target);
}

} // namespace velkmd
