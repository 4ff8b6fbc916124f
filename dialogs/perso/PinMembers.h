#pragma once

#include <cstdint>
#include <string_view>

// The four PINs of a TCOS 3.0 signature card as the personalization dialog handles them, in the
// order of their buttons: Card PIN1, Card PIN2, SigG PIN1, SigG PIN2. Every text here is a fixed
// German text, shown in every user-interface language.

inline constexpr int kPinCount = 4;

// The texts of one PIN entry prompt.
struct PinPrompt {
    const char* group;
    const char* prompt;
    const char* label;
};

struct PinMember {
    int button;
    const char* path; // selected for change and unblock
    uint8_t reference;
    bool hasNullPinMode;
    const char* unblockCaption; // the caption that selects unblock mode
    PinPrompt unblock;          // asks for the partner PIN
    PinPrompt change;           // asks for the old PIN
    PinPrompt newPin;
    PinPrompt repeat;
    const char* mismatch;
    const char* changed;
    const char* changeFailed;
    const char* unblocked;
    const char* unblockFailed;
};

// `index` 0 to 3.
const PinMember& PinMemberAt(int index);

// The caption that selects NULL-PIN mode on the two PIN1 buttons.
inline constexpr const char* kNullPinCaption = "Null-PIN brechen";

enum class PinMode { NullPin, Unblock, Change };

// The mode a button's caption selects, letter case aside.
PinMode PinModeOf(const PinMember& member, std::string_view caption);
