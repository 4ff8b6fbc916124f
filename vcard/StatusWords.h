#pragma once

#include <cstdint>

namespace vcard {

// Status words as the TCOS family of card operating systems answers them.
namespace sw {
inline constexpr uint16_t kOk = 0x9000;
inline constexpr uint16_t kEndOfFile = 0x6282;        // fewer bytes than Le: end reached
inline constexpr uint16_t kWrongLength = 0x6700;      // malformed APDU, Lc/Le missing or wrong
inline constexpr uint16_t kIncompatibleFile = 0x6981; // command not for this file structure
inline constexpr uint16_t kSecurityNotSatisfied = 0x6982;
inline constexpr uint16_t kAuthBlocked = 0x6983;            // PIN blocked
inline constexpr uint16_t kRefDataUnusable = 0x6984;        // PIN not set
inline constexpr uint16_t kConditionsNotSatisfied = 0x6985; // NULL-PIN still set
inline constexpr uint16_t kNoCurrentEf = 0x6986;
inline constexpr uint16_t kWrongData = 0x6A80;
inline constexpr uint16_t kFunctionNotSupported = 0x6A81;
inline constexpr uint16_t kFileNotFound = 0x6A82;
inline constexpr uint16_t kRecordNotFound = 0x6A83;
inline constexpr uint16_t kWrongP1P2 = 0x6A86;
inline constexpr uint16_t kLcInconsistent = 0x6A87;
inline constexpr uint16_t kRefDataNotFound = 0x6A88;
inline constexpr uint16_t kWrongOffset = 0x6B00;
inline constexpr uint16_t kInsNotSupported = 0x6D00;
inline constexpr uint16_t kClaNotSupported = 0x6E00;

// 63 Cx: verification failed, x tries left.
constexpr uint16_t TriesLeft(unsigned tries) {
    return static_cast<uint16_t>(0x63C0 | (tries & 0x0F));
}
} // namespace sw

} // namespace vcard
