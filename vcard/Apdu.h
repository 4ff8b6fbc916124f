#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vcard {

using Bytes = std::vector<uint8_t>;

// The four ISO/IEC 7816-4 command cases of a short APDU, as bits so that a
// command can name the cases it accepts.
enum ApduCase : uint8_t {
    kCase1 = 1, // header only
    kCase2 = 2, // header, Le
    kCase3 = 4, // header, Lc, data
    kCase4 = 8, // header, Lc, data, Le
};

struct CommandApdu {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    ApduCase apduCase = kCase1;
    std::span<const uint8_t> data; // points into the parsed buffer
    // Expected response length when Le is present: 1 to 256 (an Le byte 00 means 256).
    std::optional<size_t> le;
};

// Splits a short command APDU into its parts. Fails (nullopt) for fewer than
// four bytes, an Lc of 00 followed by more bytes (extended length is not
// supported) and an Lc that disagrees with the number of bytes that follow.
std::optional<CommandApdu> ParseCommand(std::span<const uint8_t> apdu);

// A response APDU under construction: data then SW1 SW2.
struct Response {
    Bytes data;
    uint16_t sw = 0x9000;

    static Response Status(uint16_t statusWord) { return Response{{}, statusWord}; }
    Bytes Encode() const;
};

} // namespace vcard
