#include "tests/card/ScriptedCard.h"

#include "tests/support/HexBytes.h"

#include <stdexcept>

namespace cardtest {

std::vector<uint8_t> Hex(std::string_view text) {
    return velktest::HexBytes(text);
}

const std::vector<uint8_t> kAtrTcos20 =
    Hex("3B BA 96 00 81 31 86 5D 00 64 05 60 02 03 31 80 90 00 66");
const std::vector<uint8_t> kAtrTcos30 =
    Hex("3B BF 96 00 81 31 FE 5D 00 64 04 11 03 01 31 C0 73 F7 01 D0 00 90 00 7D");
const std::vector<uint8_t> kAtrMicardo =
    Hex("3B 6F 00 FF 00 68 D2 76 00 00 28 FF 05 1E 31 80 00 90 00");
const std::vector<uint8_t> kAtrCardOs8 = Hex("3B F2 98 00 FF C1 10 31 FE 55 C8 04 12");
const std::vector<uint8_t> kAtrCardOs4 = Hex("3B F2 18 00 02 C1 0A 31 FE 58 C8 08 74");
const std::vector<uint8_t> kAtrTcos30V2 =
    Hex("3B 9F 96 81 31 FE 9D 00 64 05 A0 03 04 31 C0 73 F7 01 D0 00 90 00 28");

} // namespace cardtest
