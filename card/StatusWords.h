#pragma once

// The one place where status words become result codes.

#include <cstdint>
#include <optional>

// Result of a PIN command: 0 success; 0 to 3 tries left (PIN state queries);
// 4 NULL-PIN still set; 5 PIN blocked or reference data unusable; 6
// authentication method blocked; 8 security status not satisfied; 255 wrong
// PIN or failure.
using PinResult = uint8_t;

namespace scard {

// File and selection commands.
inline constexpr uint8_t kFileOk = 0;
inline constexpr uint8_t kFileWrongLength = 1;    // 67 00
inline constexpr uint8_t kFileLcInconsistent = 2; // 6A 87
inline constexpr uint8_t kFileEndReached = 3;     // 62 82, read and write commands only
inline constexpr uint8_t kFileFailed = 255;

inline constexpr PinResult kPinOk = 0;
inline constexpr PinResult kPinNullPin = 4;
inline constexpr PinResult kPinBlocked = 5;
inline constexpr PinResult kPinMethodBlocked = 6;
inline constexpr PinResult kPinSecurityNotSatisfied = 8;
inline constexpr PinResult kPinFailed = 255;

// `readOrWrite`: READ BINARY, READ RECORD and UPDATE BINARY know 62 82.
uint8_t FileResult(uint16_t sw1, uint16_t sw2, bool readOrWrite);

enum class PinCommand {
    Verify,          // VERIFY with the PIN
    ChangeOrUnblock, // CHANGE REFERENCE DATA, RESET RETRY COUNTER
    Status,          // VERIFY without data
    MakerKey,        // installation of the maker's public key
};

struct PinOutcome {
    PinResult result = kPinFailed;
    // Set when the card told the tries left (63 Cx, or 3 after 90 00).
    std::optional<uint8_t> triesLeft;
};

// `exchanged`: the PC/SC exchange itself worked. A status word that a
// command's list does not name is a failure (255) for Verify and the key
// installation as for change and unblock: going on as after success would let
// a card that answered something unexpected pass for verified. For the state
// query it reads 0, as its callers expect.
PinOutcome PinOutcomeOf(PinCommand command, bool exchanged, uint16_t sw1, uint16_t sw2);

} // namespace scard
