#include "card/StatusWords.h"

namespace scard {

uint8_t FileResult(uint16_t sw1, uint16_t sw2, bool readOrWrite) {
    const uint16_t sw = static_cast<uint16_t>((sw1 & 0xFF) << 8 | (sw2 & 0xFF));
    switch (sw) {
    case 0x9000:
        return kFileOk;
    case 0x6700:
        return kFileWrongLength;
    case 0x6A87:
        return kFileLcInconsistent;
    case 0x6282:
        return readOrWrite ? kFileEndReached : kFileFailed;
    default:
        return kFileFailed;
    }
}

PinOutcome PinOutcomeOf(PinCommand command, bool exchanged, uint16_t sw1, uint16_t sw2) {
    if (!exchanged) {
        return {kPinFailed, std::nullopt};
    }
    const uint16_t sw = static_cast<uint16_t>((sw1 & 0xFF) << 8 | (sw2 & 0xFF));
    const bool wrongPin = (sw & 0xFFF0) == 0x63C0;
    const auto tries = static_cast<uint8_t>(sw & 0x0F);

    if (command == PinCommand::Status) {
        switch (sw) {
        case 0x9000:
            return {3, std::nullopt};
        case 0x6985:
            return {kPinNullPin, std::nullopt};
        case 0x6984:
            return {kPinBlocked, std::nullopt};
        case 0x6983:
            return {kPinMethodBlocked, std::nullopt};
        default:
            if (wrongPin) {
                return {tries == 0 ? kPinBlocked : tries, std::nullopt};
            }
            return {0, std::nullopt};
        }
    }

    switch (sw) {
    case 0x9000:
        return {kPinOk, command == PinCommand::MakerKey ? std::nullopt : std::optional<uint8_t>(3)};
    case 0x6985:
        return {kPinNullPin, std::nullopt};
    case 0x6984:
        return {kPinBlocked, std::nullopt};
    case 0x6983:
        // Blocked authentication method; for change and unblock read as a
        // blocked PIN.
        return {command == PinCommand::ChangeOrUnblock ? kPinBlocked : kPinMethodBlocked,
                std::nullopt};
    case 0x6982:
        if (command == PinCommand::MakerKey) {
            return {kPinSecurityNotSatisfied, std::nullopt};
        }
        return {kPinFailed, std::nullopt};
    default:
        if (wrongPin && command != PinCommand::MakerKey) {
            return {kPinFailed, tries};
        }
        return {kPinFailed, std::nullopt};
    }
}

} // namespace scard
