#include "dialogs/perso/PinMembers.h"

#include "dialogs/perso/PersoIds.h"

#include <cctype>
#include <string_view>

namespace {

constexpr PinMember kMembers[kPinCount] = {
    {IDC_PERSO_CARD_PIN1,
     "3f002f02",
     0x00,
     true,
     "PIN entsperren",
     {"PIN2", "Bitte geben Sie die PIN2 ein, um die PIN1 zu entsperren.", "PIN2"},
     {"alte PIN1", "Bitte geben Sie die alte PIN1 ein.", "alte PIN1"},
     {"neue PIN1", "Bitte geben Sie die neue PIN1 ein. (Auch Karten PIN gennant).", "neue PIN1"},
     {"neue PIN1", "Bitte wiederholen Sie die neue PIN1.", "neue PIN1"},
     "Die Eingaben für die neue PIN1 stimmen nicht überein. Der Vorgang wird abgebrochen.",
     "PIN1 Änderung erfolgreich",
     "PIN1 Änderung fehlgeschlagen",
     "PIN1 Entsperren erfolgreich",
     "PIN1 Entsperren fehlgeschlagen"},
    {IDC_PERSO_CARD_PIN2,
     "3f002f02",
     0x01,
     false,
     "PIN2 entsperren",
     {"PIN1", "Bitte geben Sie die PIN1 ein, um die PIN2 zu entsperren.", "PIN1"},
     {"PIN2", "Bitte geben Sie die alte PIN2 ein.", "alte PIN2"},
     {"neue PIN2", "Bitte geben Sie die neue PIN2 ein.", "neue PIN2"},
     {"neue PIN2", "Bitte wiederholen Sie die neue PIN2.", "neue PIN2"},
     "Die Eingaben für die neue PIN2 stimmen nicht überein. Der Vorgang wird abgebrochen.",
     "PIN2 Änderung erfolgreich",
     "PIN2 Änderung fehlgeschlagen",
     "PIN2 Entsperren erfolgreich",
     "PIN2 Entsperren fehlgeschlagen"},
    {IDC_PERSO_SIG_PIN1,
     "3f00df01c000",
     0x81,
     true,
     "PIN entsperren",
     {"SigG PIN2", "Bitte geben Sie die SigG PIN2 ein, um die SigG PIN1 zu entsperren.",
      "SigG PIN2"},
     {"alte SigG PIN1", "Bitte geben Sie die alte SigG PIN1 ein.", "alte SigG PIN1"},
     {"neue SigG PIN1", "Bitte geben Sie die neue SigG PIN1 ein.", "neue SigG PIN1"},
     {"neue SigG PIN1", "Bitte wiederholen Sie die neue SigG PIN1.", "neue SigG PIN1"},
     "Die Eingaben für die neue SigG PIN1 stimmen nicht überein. Der Vorgang wird abgebrochen.",
     "SigG PIN1 Änderung erfolgreich",
     "SigG PIN1 Änderung fehlgeschlagen",
     "SigG PIN1 Entsperren erfolgreich",
     "SigG PIN1 Entsperren fehlgeschlagen"},
    {IDC_PERSO_SIG_PIN2,
     "3f00df01c000",
     0x83,
     false,
     "PIN2 entsperren",
     {"SigG PIN1", "Bitte geben Sie die SigG PIN1 ein, um die SigG PIN2 zu entsperren.",
      "SigG PIN1"},
     {"alte SigG PIN2", "Bitte geben Sie die alte SigG PIN2 ein.", "alte SigG PIN2"},
     {"neue SigG PIN2", "Bitte geben Sie die neue SigG PIN2 ein.", "neue SigG PIN2"},
     {"neue SigG PIN2", "Bitte wiederholen Sie die neue SigG PIN2.", "neue SigG PIN2"},
     "Die Eingaben für die neue SigG PIN2 stimmen nicht überein. Der Vorgang wird abgebrochen.",
     "SigG PIN2 Änderung erfolgreich",
     "SigG PIN2 Änderung fehlgeschlagen",
     "SigG PIN2 Entsperren erfolgreich",
     "SigG PIN2 Entsperren fehlgeschlagen"},
};

// The captions that select a mode are ASCII: folding ASCII letters only keeps the comparison
// independent of the process's locale.
bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y && (x >= 0x80 || y >= 0x80 || std::tolower(x) != std::tolower(y))) {
            return false;
        }
    }
    return true;
}

} // namespace

const PinMember& PinMemberAt(int index) {
    return kMembers[index];
}

PinMode PinModeOf(const PinMember& member, std::string_view caption) {
    if (member.hasNullPinMode && EqualIgnoringCase(caption, kNullPinCaption)) {
        return PinMode::NullPin;
    }
    if (EqualIgnoringCase(caption, member.unblockCaption)) {
        return PinMode::Unblock;
    }
    return PinMode::Change;
}
