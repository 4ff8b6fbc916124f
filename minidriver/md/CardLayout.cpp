#include "minidriver/md/CardLayout.h"

#include "card/CardType.h"

namespace velkmd {

namespace {

// T-COS 3.0: the signature key of the signature application (DF01) under
// SigG PIN1; the authentication, encryption and card keys of DF02 under Card
// PIN1. The card certificate (C500) is there on every card the trust center
// has seen, personalized or not, so its container is the one that leads to
// the personalization; the demo trust center keeps its CA certificates in
// C100 (issuing CA) and C101 (root).
constexpr CardSlot kTcos30Slots[] = {
    {0xDF01, 0xC000, 0x4531, "3f00df01c000", false, kTypePinButtons, kSelectorSigPin1},
    {0xDF02, 0xC000, 0x4531, "3f00df02c000", false, kTypePinButtons, kSelectorCardPin1},
    {0xDF02, 0xC200, 0x45B1, "3f00df02c200", false, kTypePinButtons, kSelectorCardPin1},
    {0xDF02, 0xC500, 0x4571, "3f00df02c500", false, kTypePersonalize, kSelectorCardPin1},
    {0xDF02, 0xC100, 0x0000, "3f00df02c100", true, kTypeNone, kSelectorNone},
    {0xDF02, 0xC101, 0x0000, "3f00df02c101", true, kTypeNone, kSelectorNone},
};

constexpr PinTarget kPinTargets[] = {
    {kSelectorCardPin1, "Karten-PIN1", "3f002f02", "3f002f02", 0x00, kSelectorCardPin2},
    {kSelectorCardPin2, "Karten-PIN2", "3f002f02", "3f002f02", 0x01, kSelectorCardPin1},
    {kSelectorSigPin1, "SigG PIN1", "3f00df01c000", "3f00df015049", 0x81, kSelectorSigPin2},
    {kSelectorSigPin2, "SigG PIN2", "3f00df01c000", "3f00df015049", 0x83, kSelectorSigPin1},
};

} // namespace

std::span<const CardSlot> SlotsOf(uint32_t cardType) {
    if (cardType == scard::kTcos30 || cardType == scard::kTcos30V2) {
        return kTcos30Slots;
    }
    return {};
}

const PinTarget* PinTargetOf(char selector) {
    for (const PinTarget& target : kPinTargets) {
        if (target.selector == selector) {
            return &target;
        }
    }
    return nullptr;
}

} // namespace velkmd
